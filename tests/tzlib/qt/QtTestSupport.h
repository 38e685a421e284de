#pragma once
// The process's Qt application, made on first use (offscreen under CTest), with the utility
// library connected to it as the program connects it.
void EnsureQApplication();
