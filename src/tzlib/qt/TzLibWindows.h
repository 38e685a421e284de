#pragma once
// Connects the utility library to Qt: message processing, the title, the cursor, the screen's
// resolution and the progress forms. The program calls it once, after creating its QApplication.
void InstallTzLibWindows();
