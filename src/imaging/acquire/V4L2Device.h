#pragma once
// A V4L2 device node as the requests it answers. Everything that asks a capture device about its
// formats, inputs and tuner goes through this, so that a fake device can stand in for one.
#include <functional>
#include <memory>
#include <string>

class TV4L2Device {
public:
    virtual ~TV4L2Device() = default;
    // An ioctl request: 0, or -1 with errno set when the device refuses it.
    virtual int Ask(unsigned long request, void* argument) = 0;
};

// Opens the device node (read-write, not blocking); null when it cannot be opened.
std::unique_ptr<TV4L2Device> OpenV4L2Device(const std::string& path);

// Replaces how device nodes are opened, for all later OpenV4L2Device calls; an empty opener
// restores the system's.
using TV4L2Opener = std::function<std::unique_ptr<TV4L2Device>(const std::string& path)>;
void SetV4L2Opener(TV4L2Opener opener);
