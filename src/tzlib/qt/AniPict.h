#pragma once
// A control that plays an animated GIF: every frame is composed at once by the image library,
// then a timer steps through them with each frame's own delay.
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Exception.h"

class QTimer;

class EPict : public Exception { public: using Exception::Exception; };

class TTzAniPict : public QWidget {
public:
    explicit TTzAniPict(QWidget* parent = nullptr);

    struct TFrame {
        QImage image;        // the whole screen, alpha 0 where transparent
        uint16_t delay = 0;  // hundredths of a second, 0 when none given
    };

    // Loads the whole file and decodes it; an empty name only stores it.
    void SetFileName(const std::string& fileName);
    const std::string& FileName() const { return fileName_; }
    // The picture's bytes, as stored with a form; raises EPict when they are not a GIF.
    void SetPictureData(std::vector<uint8_t> data);
    // True: the colour of the first frame's bottom-left pixel is transparent when the picture has
    // no transparency of its own.
    void SetTransparent(bool transparent);
    bool Transparent() const { return transparent_; }
    // Shows frame n and schedules the next; values outside the frames are ignored.
    void SetStep(int n);
    int Step() const { return step_; }
    void SetPlay(bool play);
    bool Play() const { return play_; }

    bool AutoSize = false;
    bool Loop = false;
    int DefaultDelay = 10;  // hundredths of a second for frames without a delay
    std::function<void()> OnLoop;

    const std::vector<TFrame>& Frames() const { return frames_; }
    // One tick of the timer; public so that tests drive the clock.
    void Tick();
    // The interval of the running timer in milliseconds, 0 when stopped.
    int TimerInterval() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Decode();
    void ScheduleNext();
    std::string fileName_;
    std::vector<uint8_t> data_;
    std::vector<TFrame> frames_;
    bool transparent_ = false;
    bool play_ = false;
    int step_ = 0;
    QTimer* timer_;
};
