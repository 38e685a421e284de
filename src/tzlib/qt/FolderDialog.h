#pragma once
// A modal folder choice: the folder tree, an edit box with the path and the chosen folder's files.
#include <string>

class QWidget;

class TTzFolderDialog {
public:
    std::string Title;  // empty: the installed text of code 620, else "Folder Selection"
    std::string Directory;
    bool WantNetHood = false;  // show the network shares

    // True when the user pressed OK; Directory then holds the edit box's text.
    bool Execute(QWidget* parent = nullptr);
};
