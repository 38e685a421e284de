// Makes one book of the pictures named on the command line the way the program does: each
// picture added with its header read, then the book. The open-count test runs it under strace.
//   book_of_pictures book.pdf picture...
#include <cstdio>
#include <memory>

#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "app/engine/ConverterPic.h"
#include "platform/Prompter.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    auto prompter = std::make_unique<TScriptedPrompter>();
    prompter->saveAnswers = {std::string(argv[1])};
    prompter->answers = {idNo};  // no look at the book
    SetPrompter(std::move(prompter));
    THeadlessHost host;
    TConverter converter(host);
    converter.Mode = cmBook;
    converter.PaperSizeName = "A4";
    try {
        for (int i = 2; i < argc; ++i) TConverterPic::Add(converter, argv[i], -1)->Open();
        converter.MakePdf();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
