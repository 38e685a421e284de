#pragma once
// The scanner source manager's dialogs as Qt dialogs: the choice of a source among the SANE
// devices, and a source's own dialog, where a person sets its options before it scans.
void InstallScannerDialogs();
