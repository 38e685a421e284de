#include "imaging/acquire/V4L2Inputs.h"

#include <cstring>

#include "imaging/acquire/V4L2Device.h"

namespace {

// A driver that never ends its list must not keep us asking.
constexpr uint32_t MostInputs = 64;

std::string NameOf(const v4l2_input& input) {
    const auto* name = reinterpret_cast<const char*>(input.name);
    return std::string(name, strnlen(name, sizeof input.name));
}

}  // namespace

TV4L2Inputs::TV4L2Inputs(std::unique_ptr<TV4L2Device> device) : device_(std::move(device)) {
    for (uint32_t index = 0; index < MostInputs; ++index) {
        v4l2_input input{};
        input.index = index;
        if (device_->Ask(VIDIOC_ENUMINPUT, &input) < 0) break;
        inputs_.push_back(input);
    }
    for (const v4l2_input& input : inputs_) {
        if (input.type != V4L2_INPUT_TYPE_TUNER) continue;
        v4l2_tuner tuner{};
        tuner.index = input.tuner;
        if (device_->Ask(VIDIOC_G_TUNER, &tuner) < 0) continue;
        tuner_ = tuner;
        break;
    }
}

TV4L2Inputs::~TV4L2Inputs() = default;

std::vector<std::string> TV4L2Inputs::CrossbarInputs() const {
    std::vector<std::string> names;
    if (HasCrossbar())
        for (const v4l2_input& input : inputs_) names.push_back(NameOf(input));
    return names;
}

int TV4L2Inputs::CurrentInput() const {
    int index = -1;
    if (!HasCrossbar() || device_->Ask(VIDIOC_G_INPUT, &index) < 0) return -1;
    return index;
}

bool TV4L2Inputs::SelectInput(int index) {
    if (!HasCrossbar() || index < 0 || size_t(index) >= inputs_.size()) return false;
    return device_->Ask(VIDIOC_S_INPUT, &index) == 0;
}

// 62.5 kHz, unless the tuner says 62.5 Hz or 1 Hz.
int64_t TV4L2Inputs::UnitNumerator() const {
    if (tuner_->capability & V4L2_TUNER_CAP_1HZ) return 1;
    return tuner_->capability & V4L2_TUNER_CAP_LOW ? 125 : 62500;
}
int64_t TV4L2Inputs::UnitDenominator() const {
    return !(tuner_->capability & V4L2_TUNER_CAP_1HZ) && (tuner_->capability & V4L2_TUNER_CAP_LOW) ? 2 : 1;
}

int64_t TV4L2Inputs::Frequency() const {
    if (!tuner_) return 0;
    v4l2_frequency frequency{};
    frequency.tuner = tuner_->index;
    if (device_->Ask(VIDIOC_G_FREQUENCY, &frequency) < 0) return 0;
    return int64_t(frequency.frequency) * UnitNumerator() / UnitDenominator();
}

bool TV4L2Inputs::SetFrequency(int64_t hertz) {
    if (!tuner_ || hertz < 0) return false;
    const int64_t units = (hertz * UnitDenominator() + UnitNumerator() / 2) / UnitNumerator();
    if (units < tuner_->rangelow || units > tuner_->rangehigh) return false;
    v4l2_frequency frequency{};
    frequency.tuner = tuner_->index;
    frequency.type = tuner_->type;
    frequency.frequency = uint32_t(units);
    return device_->Ask(VIDIOC_S_FREQUENCY, &frequency) == 0;
}
