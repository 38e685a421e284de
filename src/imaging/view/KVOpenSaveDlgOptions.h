#pragma once
// How the file dialog honours the open options: its modes before it is shown, the checks of the
// files it is about to return, and the options it answers.
#include <QStringList>
#include <string>

#include "imaging/view/KVOpenSaveDlg.h"

class QCheckBox;

// Sets the dialog's modes and, unless ofHideReadOnly, adds the open dialog's read-only check box,
// which it returns (else null).
QCheckBox* KVApplyOpenOptions(QFileDialog& dialog, TOpenOptions options, bool save);

// False when the files may not be returned: the user was told why, or declined to create one.
bool KVFilesAcceptable(QFileDialog& dialog, const QStringList& files, TOpenOptions options);

// The options as a confirmed run answers them: ofReadOnly from the check box when there is one,
// ofExtensionDifferent when the chosen name's extension is not the dialog's default one.
TOpenOptions KVAnsweredOptions(TOpenOptions options, const QCheckBox* readOnly, const QString& fileName,
                               const QString& defaultSuffix);
