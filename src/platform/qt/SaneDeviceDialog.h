#pragma once
// The choice of a scanner or camera by device, as a Qt dialog listing each device's name with
// its identifier.
#include <QStringList>

void InstallSaneDeviceDialog();

// A dialog listing scanners by the names given, with the objects named as given: the row chosen
// with Select or a double click, or -1 when cancelled.
int ChooseScannerInList(const QString& dialogName, const QString& title, const QString& listName,
                        const QStringList& entries, const QStringList& tips = {});
