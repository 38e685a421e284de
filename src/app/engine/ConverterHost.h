#pragma once
// What the conversion engine needs of the window that runs it: progress, the abort request, a
// moment for pending window messages, and the preview's input/output object. The main window
// implements it; THeadlessHost serves tests and runs without a window.
#include <memory>

class TKestovaIO;

class TConverterHost {
public:
    virtual ~TConverterHost() = default;
    // One step per picture: positions 0 to maximum.
    virtual void BeginProgress(int maximum) = 0;
    virtual void SetProgress(int position) = 0;
    virtual void EndProgress() = 0;
    // Read before every picture.
    virtual bool AbortRequested() = 0;
    // Called when the PDF writer starts a page, so that an abort request can arrive.
    virtual void ProcessMessages() = 0;
    // The preview's input/output object, which the engine borrows outside a run; none without a view.
    virtual TKestovaIO* ViewIO() = 0;
};

// No window: no messages to run, no view; an abort can be requested from outside, for example
// when a given page starts. Its own input/output object stands in for the view's.
class THeadlessHost : public TConverterHost {
public:
    THeadlessHost();
    ~THeadlessHost() override;
    void BeginProgress(int maximum) override;
    void SetProgress(int position) override { Position = position; }
    void EndProgress() override { InProgress = false; }
    bool AbortRequested() override { return Abort; }
    void ProcessMessages() override;
    TKestovaIO* ViewIO() override { return io_.get(); }

    bool Abort = false;
    // Requests the abort when this many pages have started; 0 never.
    int AbortAtPage = 0;
    int PagesStarted = 0;
    int Maximum = -1, Position = -1;
    bool InProgress = false;

private:
    std::unique_ptr<TKestovaIO> io_;
};
