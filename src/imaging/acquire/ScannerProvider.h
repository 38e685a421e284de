#pragma once
// Makes the input/output component acquire from the scanners SANE knows.
void InstallScannerProvider();
