// The stages and texts every extended reader reports while it loads.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "tzpicformats/PPMGraphic.h"
#include "tzpicformats/TargaGraphic.h"

using namespace std::string_literals;

namespace {

struct TEvent {
    TProgressStage stage;
    int percent;
    TRect rect;
    std::string message;
    bool operator==(const TEvent&) const = default;
};

void PrintTo(const TEvent& e, std::ostream* os) {
    *os << int(e.stage) << ' ' << e.percent << " (" << e.rect.Left << ',' << e.rect.Top << ',' << e.rect.Right
        << ',' << e.rect.Bottom << ") \"" << e.message << '"';
}

constexpr auto Start = TProgressStage::psStarting, Run = TProgressStage::psRunning, End = TProgressStage::psEnding;

struct TCase {
    std::string name;
    std::function<std::unique_ptr<TGraphic>()> make;
    std::string bytes;
    std::vector<TEvent> expected;
};

// An uncompressed 24-bit Targa of 3 x 2 pixels stored top-down.
std::string Targa3x2() {
    return "\0\0\x02\0\0\0\0\0\0\0\0\0\x03\0\x02\0\x18\x20"s + std::string(18, '\x40');
}

const TCase Cases[] = {
    {"PortableGrayMap", [] { return std::make_unique<TPPMGraphic>(); }, "P5 2 3 255\n\x01\x02\x03\x04\x05\x06"s,
     {{Start, 0, {0, 0, 0, 1}, "Preparing..."},
      {End, 0, {0, 0, 0, 1}, ""},
      {Start, 0, {0, 0, 0, 1}, "Transfering..."},
      {Run, 33, {0, 0, 2, 1}, ""},
      {Run, 66, {0, 1, 2, 2}, ""},
      {Run, 100, {0, 2, 2, 3}, ""},
      {End, 0, {0, 3, 2, 4}, ""}}},
    {"Targa", [] { return std::make_unique<TTargaGraphic>(); }, Targa3x2(),
     {{Start, 0, {0, 0, 0, 1}, "Preparing..."},
      {End, 0, {0, 0, 0, 1}, ""},
      {Start, 0, {0, 0, 0, 1}, "Transfering..."},
      {Run, 50, {0, 0, 3, 1}, ""},
      {Run, 100, {0, 1, 3, 2}, ""},
      {End, 0, {0, 2, 3, 3}, ""}}},
};

TEST(ReaderProgress, StagesAndTextsInOrder) {
    for (const TCase& c : Cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<TGraphic> graphic = c.make();
        std::vector<TEvent> events;
        graphic->OnProgress = [&](TObject* sender, TProgressStage stage, uint8_t percent, const TRect& rect,
                                  const std::string& message) {
            EXPECT_EQ(sender, graphic.get());
            events.push_back({stage, percent, rect, message});
        };
        TMemoryStream stream;
        stream.Write(c.bytes.data(), int64_t(c.bytes.size()));
        stream.SetPosition(0);
        graphic->LoadFromStream(stream);
        EXPECT_EQ(events, c.expected);
    }
}

}  // namespace
