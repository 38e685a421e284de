#pragma once
// Every option of a SANE device as a control a person can set: switches, numbers within their
// range or list, choices, text and buttons, grouped as the device groups them. A value is written
// to the device as soon as it is chosen; inactive and read-only options are shown disabled, and
// the form is built again when the device changes its options or rounds a value.
#include <QScrollArea>
#include <vector>

#include "platform/SaneDevice.h"

class TScannerOptionsForm : public QScrollArea {
public:
    TScannerOptionsForm(TSaneDevice& device, QWidget* parent);

    // The values the person set, in the order set; buttons pressed are no choice.
    const std::vector<TSaneChoice>& Choices() const { return choices_; }

private:
    void Rebuild();
    // The control of the option; nullptr for an option a form cannot show.
    QWidget* EditorFor(const TSaneOption& option);
    // Writes the choice and rebuilds the form when the device refuses it, rounds it or changes
    // other options.
    void Write(const TSaneOption& option, const TSaneChoice& choice);
    void Press(int index);
    void AfterWrite(bool written);

    TSaneDevice& device_;
    std::vector<TSaneChoice> choices_;
};
