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
    int TextSize = 0;  // bytes a text option holds, its ending zero among them
    bool Active = false, Readable = false, Settable = false, Automatic = false;
    TSaneConstraint Constraint = TSaneConstraint::None;
    double Min = 0, Max = 0, Step = 0;
    std::vector<double> Numbers;
    std::vector<std::string> Strings;
};

// A value a person chose for an option: numbers, a text, or the device's automatic value.
struct TSaneChoice {
    std::string Option;
    std::vector<double> Numbers;
    std::string Text;
    bool Automatic = false;
};

// Choices a person made for the named device, kept for the program's life and written again, in
// the order made, each time the device is opened; a later choice for an option replaces the
// earlier one.
void RememberSaneChoices(const std::string& device, const std::vector<TSaneChoice>& choices);
// Forgets every device's choices, as at the program's start.
void ForgetSaneChoices();

// A frame as the device is about to deliver it: a whole page, or one colour of a page sent in
// three frames. Lines is -1 when the device does not know.
struct TSaneFrame {
    enum TFormat { Gray, Rgb, Red, Green, Blue, Unsupported };
    TFormat Format = Unsupported;
    int BytesPerLine = 0, PixelsPerLine = 0, Lines = -1, Depth = 0;
    bool Last = true;  // no frame of the page follows
};

class TSaneDevice {
public:
    TSaneDevice() = default;
    ~TSaneDevice() { Close(); }
    TSaneDevice(const TSaneDevice&) = delete;
    TSaneDevice& operator=(const TSaneDevice&) = delete;

    // Opens the named device of the session's library, with the choices remembered for it;
    // false with the reason in ErrorText.
    bool Open(const TSaneSession& session, const std::string& name);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }
    const std::string& Name() const { return name_; }

    // Options are numbered from 1; 0 and numbers past the count describe nothing.
    int OptionCount();
    bool Describe(int index, TSaneOption& option);
    // The first active option of that name, else the first inactive one; -1 when there is none.
    int FindOption(const std::string& name);
    // Values of active options; inactiveToo also asks for those the device may still give.
    bool GetNumbers(int index, std::vector<double>& values, bool inactiveToo = false);
    bool GetText(int index, std::string& value, bool inactiveToo = false);
    // A value the option's kind, count or constraint does not allow, or an inactive or read-only
    // option, is refused and leaves the device as it was.
    bool SetNumbers(int index, const std::vector<double>& values);
    bool SetText(int index, const std::string& value);
    bool SetAutomatic(int index);
    bool Press(int index);
    // Writes the choice to option index, whatever its name.
    bool Apply(int index, const TSaneChoice& choice);
    // True when the device rounded the last value written, or it changed other options.
    bool LastWriteReshaped() const { return reshaped_; }

    // The next frame as the device describes it before it starts.
    bool Parameters(TSaneFrame& frame);
    // Starts the next frame, whatever its form; false when there is none or it fails.
    bool StartFrame(TSaneFrame& frame);
    // Starts the next page (of a feeder, the next sheet); false when there is none, it fails or
    // its data come in more than one frame (three-pass colour), which is cancelled.
    bool Start(TSaneFrame& frame);
    enum class TRead { Data, End, Failed };
    // Reads up to size bytes of the page; got receives how many arrived.
    TRead Read(uint8_t* buffer, int size, int& got);
    // Ends the pages: stops a page being read, or closes the run after the last.
    void Cancel();

    const std::string& ErrorText() const { return error_; }
    // SANE's status number of the last failure to open, start or read.
    int Status() const { return status_; }

private:
    bool Write(int index, int action, void* value);
    bool Fail(int status);

    void* handle_ = nullptr;
    bool midFrame_ = false;  // started and not read to its end
    std::string name_, error_;
    int status_ = 0;
    bool reshaped_ = false;
};

// The resolution of the device's next page along one axis: the axis's own option, else the
// common one; 0 when the device tells none.
double SaneResolution(TSaneDevice& device, bool vertical);
// Whether a source the device names is a document feeder, and whether the feeder is chosen.
bool IsSaneFeeder(const std::string& source);
bool SaneFeederSelected(TSaneDevice& device);
