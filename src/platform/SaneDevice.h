#pragma once
// SANE's scanners and cameras as devices: the library kept initialised while anybody needs it,
// the list of devices, an open device's options with their constraints, and its pages read in
// pieces. The person's choice of a device is a dialog the GUI installs.
#include <cstdint>
#include <string>
#include <vector>

// Keeps the SANE library initialised for its lifetime; the first session initialises it and
// the last one to end closes it, so users of the library do not close it under each other.
class TSaneSession {
public:
    TSaneSession();
    ~TSaneSession();
    TSaneSession(const TSaneSession&) = delete;
    TSaneSession& operator=(const TSaneSession&) = delete;

    // False when the library could not be initialised; the session then holds nothing.
    bool Ok() const { return ok_; }
    // The library's version, "major.minor.build".
    static std::string Version();

private:
    bool ok_ = false;
};

struct TSaneDeviceInfo {
    std::string Name, Vendor, Model, Type;
};

// The devices the library knows, in its order.
std::vector<TSaneDeviceInfo> SaneDevices(const TSaneSession& session);

// The choice of a device shown to a person: the index chosen, or -1 when cancelled. Without a
// dialog installed the first device is taken.
using TSaneDeviceDialog = int (*)(const std::vector<TSaneDeviceInfo>& devices);
void SetSaneDeviceDialog(TSaneDeviceDialog dialog);
int ChooseSaneDevice(const std::vector<TSaneDeviceInfo>& devices);

enum class TSaneValueKind { Bool, Int, Fixed, String, Button, Group };
enum class TSaneConstraint { None, Range, NumberList, StringList };

// What an option is and what it accepts, as the device describes it now.
struct TSaneOption {
    int Index = 0;
    std::string Name, Title, Description;
    TSaneValueKind Kind = TSaneValueKind::Group;
    int Unit = 0;   // SANE's unit number
    int Count = 0;  // values it holds: 1, more for an array, 0 for buttons and groups
    bool Active = false, Readable = false, Settable = false;
    TSaneConstraint Constraint = TSaneConstraint::None;
    double Min = 0, Max = 0, Step = 0;
    std::vector<double> Numbers;
    std::vector<std::string> Strings;
};

// A page as the device is about to deliver it. Lines is -1 when the device does not know.
struct TSaneFrame {
    enum TFormat { Gray, Rgb, Unsupported };
    TFormat Format = Unsupported;
    int BytesPerLine = 0, PixelsPerLine = 0, Lines = -1, Depth = 0;
};

class TSaneDevice {
public:
    TSaneDevice() = default;
    ~TSaneDevice() { Close(); }
    TSaneDevice(const TSaneDevice&) = delete;
    TSaneDevice& operator=(const TSaneDevice&) = delete;

    // Opens the named device of the session's library; false with the reason in ErrorText.
    bool Open(const TSaneSession& session, const std::string& name);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }

    // Options are numbered from 1; 0 and numbers past the count describe nothing.
    int OptionCount();
    bool Describe(int index, TSaneOption& option);
    // The first option of that name, active or not; -1 when there is none.
    int FindOption(const std::string& name);
    bool GetNumbers(int index, std::vector<double>& values);
    bool GetText(int index, std::string& value);
    // A value the option's kind, count or constraint does not allow, or an inactive or read-only
    // option, is refused and leaves the device as it was.
    bool SetNumbers(int index, const std::vector<double>& values);
    bool SetText(int index, const std::string& value);
    bool Press(int index);

    // Starts the next page (of a feeder, the next sheet); false when there is none, it fails or
    // its data come in more than one frame (three-pass colour), which is cancelled.
    bool Start(TSaneFrame& frame);
    enum class TRead { Data, End, Failed };
    // Reads up to size bytes of the page; got receives how many arrived.
    TRead Read(uint8_t* buffer, int size, int& got);
    // Ends the pages: stops a page being read, or closes the run after the last.
    void Cancel();

    const std::string& ErrorText() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};
