#pragma once
int FileCount();
