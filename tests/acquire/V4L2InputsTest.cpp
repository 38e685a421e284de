// A device's inputs as a crossbar and its tuner, asked through the device layer of a fake device
// that answers the V4L2 input and tuner requests as a capture card and a camera do.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/acquire/V4L2Device.h"
#include "imaging/acquire/V4L2Inputs.h"

namespace {

struct TFakeInput {
    std::string name;
    uint32_t type;  // V4L2_INPUT_TYPE_TUNER or _CAMERA
};

// Answers the input and tuner requests from its fields; everything else is refused.
class TFakeDevice : public TV4L2Device {
public:
    std::vector<TFakeInput> inputs;
    int current = 0;
    bool busy = false;  // refuses to switch inputs, as some devices do while they stream
    bool tunerAnswers = true;
    v4l2_tuner tuner{};
    uint32_t frequency = 0;
    std::vector<std::string>* asked = nullptr;

    int Ask(unsigned long request, void* argument) override {
        switch (request) {
            case VIDIOC_ENUMINPUT: {
                auto& input = *static_cast<v4l2_input*>(argument);
                if (input.index >= inputs.size()) return Refuse(EINVAL);
                std::strncpy(reinterpret_cast<char*>(input.name), inputs[input.index].name.c_str(), sizeof input.name);
                input.type = inputs[input.index].type;
                input.tuner = 0;
                return 0;
            }
            case VIDIOC_G_INPUT: *static_cast<int*>(argument) = current; return 0;
            case VIDIOC_S_INPUT: {
                const int index = *static_cast<int*>(argument);
                if (busy) return Refuse(EBUSY);
                if (index < 0 || size_t(index) >= inputs.size()) return Refuse(EINVAL);
                current = index;
                return 0;
            }
            case VIDIOC_G_TUNER: {
                auto& asked = *static_cast<v4l2_tuner*>(argument);
                if (!tunerAnswers || asked.index != 0) return Refuse(EINVAL);
                asked = tuner;
                return 0;
            }
            case VIDIOC_G_FREQUENCY: {
                auto& f = *static_cast<v4l2_frequency*>(argument);
                if (f.tuner != 0) return Refuse(EINVAL);
                f.frequency = frequency;
                return 0;
            }
            case VIDIOC_S_FREQUENCY: {
                const auto& f = *static_cast<v4l2_frequency*>(argument);
                if (f.tuner != 0 || f.type != tuner.type) return Refuse(EINVAL);
                frequency = f.frequency;
                return 0;
            }
            default: return Refuse(ENOTTY);
        }
    }

private:
    static int Refuse(int error) {
        errno = error;
        return -1;
    }
};

// A TV card: its tuner in 62.5 kHz steps from 44 to 958 MHz, a composite and an S-Video input.
std::unique_ptr<TFakeDevice> TvCard() {
    auto device = std::make_unique<TFakeDevice>();
    device->inputs = {{"Television", V4L2_INPUT_TYPE_TUNER},
                      {"Composite1", V4L2_INPUT_TYPE_CAMERA},
                      {"S-Video", V4L2_INPUT_TYPE_CAMERA}};
    device->tuner.type = V4L2_TUNER_ANALOG_TV;
    device->tuner.rangelow = 44'000'000 / 62'500;
    device->tuner.rangehigh = 958'000'000 / 62'500;
    return device;
}

}  // namespace

TEST(V4L2InputsTest, ACardsInputsAreItsCrossbarAndItsTunerTunes) {
    auto card = TvCard();
    TFakeDevice& device = *card;
    TV4L2Inputs inputs(std::move(card));
    EXPECT_TRUE(inputs.HasCrossbar());
    EXPECT_EQ(inputs.CrossbarInputs(), (std::vector<std::string>{"Television", "Composite1", "S-Video"}));
    EXPECT_EQ(inputs.CurrentInput(), 0);
    EXPECT_TRUE(inputs.SelectInput(2));
    EXPECT_EQ(inputs.CurrentInput(), 2);
    EXPECT_EQ(device.current, 2);
    EXPECT_FALSE(inputs.SelectInput(3));
    EXPECT_FALSE(inputs.SelectInput(-1));
    device.busy = true;
    EXPECT_FALSE(inputs.SelectInput(1));
    EXPECT_EQ(inputs.CurrentInput(), 2);

    ASSERT_TRUE(inputs.HasTuner());
    EXPECT_TRUE(inputs.SetFrequency(471'250'000));
    EXPECT_EQ(device.frequency, 7540u);
    EXPECT_EQ(inputs.Frequency(), 471'250'000);
    EXPECT_FALSE(inputs.SetFrequency(43'000'000));  // below the tuner's range
    EXPECT_FALSE(inputs.SetFrequency(959'000'000));
    EXPECT_EQ(inputs.Frequency(), 471'250'000);
}

// The tuner's unit decides how a frequency in Hz is written and read back.
TEST(V4L2InputsTest, FrequenciesInTheTunersUnit) {
    const struct {
        const char* what;
        uint32_t capability;
        int64_t hertz;
        uint32_t units;
        int64_t readBack;
    } cases[] = {
        {"62.5 kHz", 0, 471'250'000, 7540, 471'250'000},
        {"62.5 kHz, rounded to the nearest step", 0, 471'280'000, 7540, 471'250'000},
        {"62.5 Hz", V4L2_TUNER_CAP_LOW, 98'500'000, 1'576'000, 98'500'000},
        {"62.5 Hz, rounded", V4L2_TUNER_CAP_LOW, 98'500'040, 1'576'001, 98'500'062},
        {"1 Hz", V4L2_TUNER_CAP_1HZ | V4L2_TUNER_CAP_LOW, 98'500'040, 98'500'040, 98'500'040},
    };
    for (const auto& c : cases) {
        auto card = TvCard();
        TFakeDevice& device = *card;
        device.tuner.capability = c.capability;
        device.tuner.rangelow = 0;
        device.tuner.rangehigh = UINT32_MAX;
        TV4L2Inputs inputs(std::move(card));
        EXPECT_TRUE(inputs.SetFrequency(c.hertz)) << c.what;
        EXPECT_EQ(device.frequency, c.units) << c.what;
        EXPECT_EQ(inputs.Frequency(), c.readBack) << c.what;
    }
}

// A camera has one input and no tuner: no crossbar, nothing to tune. A tuner input whose tuner
// does not answer is no tuner either.
TEST(V4L2InputsTest, ACameraHasNeitherCrossbarNorTuner) {
    auto camera = std::make_unique<TFakeDevice>();
    camera->inputs = {{"Camera 1", V4L2_INPUT_TYPE_CAMERA}};
    TV4L2Inputs inputs(std::move(camera));
    EXPECT_FALSE(inputs.HasCrossbar());
    EXPECT_TRUE(inputs.CrossbarInputs().empty());
    EXPECT_EQ(inputs.CurrentInput(), -1);
    EXPECT_FALSE(inputs.SelectInput(0));
    EXPECT_FALSE(inputs.HasTuner());
    EXPECT_EQ(inputs.Frequency(), 0);
    EXPECT_FALSE(inputs.SetFrequency(471'250'000));

    auto card = TvCard();
    card->tunerAnswers = false;
    TV4L2Inputs silent(std::move(card));
    EXPECT_TRUE(silent.HasCrossbar());
    EXPECT_FALSE(silent.HasTuner());
}

// Device nodes are opened through the layer, so that a fake one can stand in.
TEST(V4L2InputsTest, TheLayerOpensTheFakeInPlaceOfTheNode) {
    std::vector<std::string> opened;
    SetV4L2Opener([&](const std::string& path) -> std::unique_ptr<TV4L2Device> {
        opened.push_back(path);
        return TvCard();
    });
    std::unique_ptr<TV4L2Device> device = OpenV4L2Device("/dev/video7");
    SetV4L2Opener({});
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(opened, std::vector<std::string>{"/dev/video7"});
    EXPECT_EQ(TV4L2Inputs(std::move(device)).CrossbarInputs().size(), 3u);
    EXPECT_EQ(OpenV4L2Device("/dev/no-such-video"), nullptr);
}
