#pragma once

int PageCount();
