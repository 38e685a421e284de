#include "app/engine/UnattendedRun.h"

#include <functional>
#include <vector>

#include "app/engine/AppFolders.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "app/engine/ConverterSettings.h"
#include "app/engine/MessageCatalogue.h"
#include "app/engine/ReadablePicture.h"
#include "platform/Prompter.h"
#include "tzlib/Errors.h"
#include "tzlib/WindowHooks.h"

namespace {

// One box that names each picture that did not become a document; a reason told as the failure
// happened is not told again.
void ReportNotConverted(const std::vector<TNotConverted>& failures) {
    if (failures.empty()) return;
    std::string text = failures.size() == 1 ? "Not converted:" : std::to_string(failures.size()) + " not converted:";
    for (const TNotConverted& failure : failures) {
        if (failure.fileName.empty())
            text += "\n  " + failure.reason;
        else
            text += "\n  " + failure.fileName + (failure.told ? std::string() : ": " + failure.reason);
    }
    Prompter().MessageBox(ApplicationTitle(), text, TMsgIcon::Error, TMsgButtons::Ok);
}

// The settings are saved and the temporary folder goes however the run ends.
class TRunFrame {
public:
    explicit TRunFrame(TConverter& converter) : converter_(converter) {
        LoadSettings(converter_);
        CreateTempFolder();
    }
    ~TRunFrame() {
        // Settings that cannot be written must not keep the program from ending.
        Guarded([this] { SaveSettings(converter_); });
        DeleteTempFolder();
    }
    TRunFrame(const TRunFrame&) = delete;
    TRunFrame& operator=(const TRunFrame&) = delete;

private:
    TConverter& converter_;
};

}  // namespace

TExitStatus RunUnattended(const TCommandLine& command) {
    ErrorTextCallback = GetCatalogueText;
    SetWindowHooks({.applicationTitle = [] { return std::string(ProgramTitle); }});
    THeadlessHost host;
    TConverter converter(host);
    const TRunFrame frame(converter);
    if (command.mode) converter.Mode = *command.mode == TCommandMode::Book ? cmBook : cmSingle;
    // Pictures of the command line that never reached the engine, with the reason.
    std::vector<TNotConverted> failures;
    for (const TRejectedArgument& rejected : command.rejected) failures.push_back({rejected.argument, rejected.reason});
    if (command.sources.empty()) {
        ReportNotConverted(failures);
        Prompter().MessageBox(ApplicationTitle(),
                              "No pic selected: the command line names no picture this program can read.\n" + UsageText(),
                              TMsgIcon::Error, TMsgButtons::Ok);
        return esNothingUsable;
    }
    // A picture that cannot be added is reported and left out; the others still count.
    for (const TCommandSource& source : command.sources) {
        try {
            AddReadablePicture(converter, source.fileName, source.frameIndex);
        } catch (const std::exception& error) {
            ShowExceptionBox(error);
            failures.push_back({source.fileName, error.what(), true});
        }
    }
    // Without a picture left, each has been told why already: nothing is selected to say so again.
    const bool converted = converter.Pics.Count() > 0 && Guarded([&converter] { converter.MakePdf(); });
    failures.insert(failures.end(), converter.NotConverted.begin(), converter.NotConverted.end());
    ReportNotConverted(failures);
    return converted && failures.empty() ? esConverted : esNotAllConverted;
}
