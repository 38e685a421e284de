#pragma once
// A V4L2 device's inputs and tuner, in the roles of a capture card's crossbar and TV tuner: the
// crossbar switches among the device's inputs, and the tuner is the one behind a tuner input.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <linux/videodev2.h>

class TV4L2Device;

class TV4L2Inputs {
public:
    // Reads the device's inputs and finds its tuner.
    explicit TV4L2Inputs(std::unique_ptr<TV4L2Device> device);
    ~TV4L2Inputs();
    TV4L2Inputs(const TV4L2Inputs&) = delete;
    TV4L2Inputs& operator=(const TV4L2Inputs&) = delete;

    // A device with several inputs switches among them as a crossbar does.
    bool HasCrossbar() const { return inputs_.size() > 1; }
    // The names of the inputs a crossbar switches among; none without a crossbar.
    std::vector<std::string> CrossbarInputs() const;
    // The input in use; -1 when the device does not tell or has no crossbar.
    int CurrentInput() const;
    // False when there is no such input or the device refuses (some do while they stream).
    bool SelectInput(int index);

    bool HasTuner() const { return tuner_.has_value(); }
    // The tuner's frequency in Hz; 0 without a tuner or an answer.
    int64_t Frequency() const;
    // False without a tuner, outside its range or when it refuses.
    bool SetFrequency(int64_t hertz);

private:
    // Hz per unit of the tuner's frequencies, as a fraction.
    int64_t UnitNumerator() const;
    int64_t UnitDenominator() const;

    std::unique_ptr<TV4L2Device> device_;
    std::vector<v4l2_input> inputs_;
    std::optional<v4l2_tuner> tuner_;
};
