#pragma once
// The choice of a scanner or camera by device, as a Qt dialog listing each device's name with
// its identifier.
void InstallSaneDeviceDialog();
