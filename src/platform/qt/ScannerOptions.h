#pragma once
// Every option of a SANE device as a control a person can set: switches, numbers within their
// range or list, choices, text and buttons, grouped as the device groups them. A value is written
// to the device as soon as it is chosen; inactive and read-only options are shown disabled, and
// the form is built again when the device changes its options or rounds a value.
#include <QScrollArea>

class TScannerOptionsForm : public QScrollArea {
public:
    TScannerOptionsForm(void* saneHandle, QWidget* parent);

private:
    void Rebuild();
    // The control of option index; nullptr for an option a form cannot show.
    QWidget* EditorFor(int index);
    // Writes the value (nullptr for a button or the device's automatic value) and rebuilds the
    // form when the device asks for it.
    void Write(int index, void* value, bool automatic = false);

    void* handle_;
};
