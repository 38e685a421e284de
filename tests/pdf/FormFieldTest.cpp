// Interactive form fields: widgets, appearance characteristics, actions, radio groups and the
// form dictionary, read back by qpdf, pypdf, mutool and poppler.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "PdfTestSupport.h"
#include "pdf/PdfFormFields.h"
#include "pdf/PdfKalmora.h"

namespace {

// Lists a document's fields as pypdf reads them, one line each: name, kind, value, flags, the
// number of kids, tooltip and the appearance states of the kids.
const char* const PypdfFields = R"(
import sys, pypdf
reader = pypdf.PdfReader(sys.argv[1])
if len(sys.argv) > 2:
    reader.decrypt(sys.argv[2])
for name, field in reader.get_fields().items():
    widgets = [kid.get_object() for kid in field.get('/Kids', [])]
    states = ','.join(sorted({state for w in widgets for state in w['/AP']['/N']}))
    print(name, field.get('/FT'), field.get('/V'), field.get('/Ff', 0), len(field.get('/Kids', [])),
          field.get('/TU', ''), states, sep='|')
)";

// Each entry of a field's additional actions as pypdf reads it: the event key, the action's /S
// and its other entries.
const char* const PypdfActions = R"(
import sys, pypdf
reader = pypdf.PdfReader(sys.argv[1])
widget = reader.pages[0]['/Annots'][0].get_object()
for key, action in widget['/AA'].items():
    action = action.get_object()
    rest = ' '.join(k + '=' + str(v) for k, v in sorted(action.items()) if k != '/S')
    print(key, action['/S'], rest)
)";

// qpdf's view of the form: per widget its full name, kind, value, flags, radio-ness, appearance
// state and parent.
const char* const QpdfFields = R"(
import sys, json
form = json.load(sys.stdin)['acroform']
print('needappearances', form['needappearances'])
for f in form['fields']:
    print(f['fullname'], f['fieldtype'], f['value'], f['fieldflags'], f['isradiobutton'],
          f['annotation']['appearancestate'], f['parent'], sep='|')
)";

std::string Python(const char* script, const std::string& arguments) {
    const TCommandResult result =
        RunTool("PYTHONIOENCODING=utf-8 /usr/bin/python3 -c " + Quoted(script) + " " + arguments, false);
    EXPECT_EQ(result.status, 0) << result.output;
    return result.output;
}

std::string QpdfForm(const std::string& path, const std::string& password = {}) {
    const std::string option = password.empty() ? "" : " --password=" + Quoted(password);
    const TCommandResult result = RunTool("qpdf --json --json-key=acroform" + option + " " + Quoted(path) +
                                              " | /usr/bin/python3 -c " + Quoted(QpdfFields),
                                          false);
    EXPECT_EQ(result.status, 0) << result.output;
    return result.output;
}

// The dictionary of the object holding the line, from "<<" to the end of the object.
std::string ObjectWith(const std::string& pdf, const std::string& line) {
    const size_t at = pdf.find("\n" + line + "\n");
    if (at == std::string::npos) return {};
    const size_t start = pdf.rfind(" 0 obj\n", at);
    const size_t end = pdf.find("endobj", at);
    return pdf.substr(start + 7, end - start - 7);
}

// "n 0 R" of the reference following the key in the text.
int ReferenceAfter(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + key.size());
}

class PdfForm : public ::testing::Test {
public:
    void SetUp() override {
        pdf.SetLengthUnit(luPoint);
        pdf.SetFileName(Path());
        pdf.BeginDoc();
    }
    std::string End() {
        pdf.EndDoc();
        EXPECT_TRUE(QpdfChecks(Path()));
        return ReadFile(Path());
    }
    std::string Path() const { return scratch.Path("form.pdf"); }
    TPdfCanvas& Canvas() { return pdf.Canvas(); }
    bool Written() const {
        struct stat info;
        return ::stat(Path().c_str(), &info) == 0;
    }
    // A group with buttons of these names, put one under the other from (x, y), the one named
    // checked checked.
    TRadioGroupField& Group(const std::string& name, const std::vector<std::string>& buttons,
                            const std::string& checked, int x = 50, int y = 200) {
        auto& group = Canvas().AddField<TRadioGroupField>(name);
        for (const std::string& button : buttons) {
            auto& widget = Canvas().AddField<TRadioButtonField>(button, group);
            widget.Checked = button == checked;
            widget.PutOnForm(x, y, 12, 12);
            y += 16;
        }
        return group;
    }
    TScratchFolder scratch;
    TPdfKalmora pdf;
};

TEST_F(PdfForm, WidgetAndAppearanceObjectsAsWritten) {
    Canvas().GetFont().Size = 12;
    Canvas().GetFont().Color = clBlue;
    Canvas().Brush().Color = RGB(255, 128, 0);
    auto& field = Canvas().AddField<TTextField>("name");
    field.Value = "Anna";
    field.Tooltip = "Your name";
    field.BorderColor = clRed;
    field.PutOnForm(50, 50, 200, 20);
    auto& plain = Canvas().AddField<TTextField>("plain");
    plain.PutOnForm(50, 100, 200, 20);
    EXPECT_EQ(Canvas().Brush().Color, RGB(255, 128, 0));
    const std::string file = End();
    // Font objects 5 to 7 come first: the default appearance names the font.
    EXPECT_EQ(ObjectText(file, 8), "8 0 obj\n<<\n/BC [1 0 0 ]\n/BG [1 0.502 0 ]\n>>\n");
    EXPECT_EQ(ObjectText(file, 9),
              "9 0 obj\n<<\n/Type/Annot\n/Subtype/Widget\n/Rect[50 792 250 772]\n/MK 8 0 R\n/F 4\n/T (name)\n"
              "/TU (Your name)\n/BS <</S/S>>\n/DA (/F0 12 Tf 0 0 1 rg)\n/FT/Tx\n/V (Anna)\n>>\n");
    EXPECT_EQ(ObjectText(file, 10), "10 0 obj\n<<\n/BC [0 0 0 ]\n/BG [1 0.502 0 ]\n>>\n");
    EXPECT_EQ(ObjectText(file, 11),
              "11 0 obj\n<<\n/Type/Annot\n/Subtype/Widget\n/Rect[50 742 250 722]\n/MK 10 0 R\n/F 4\n/T (plain)\n"
              "/BS <</S/S>>\n/DA (/F0 12 Tf 0 0 1 rg)\n/FT/Tx\n>>\n");
    EXPECT_TRUE(Contains(file, "/Annots [\n9 0 R\n11 0 R\n]\n"));
    EXPECT_TRUE(Contains(file, "/Type/Catalog\n/Pages 2 0 R\n/AcroForm 4 0 R\n"));
    EXPECT_EQ(ObjectText(file, 4), "4 0 obj\n<<\n/Fields[\n9 0 R\n11 0 R\n]\n/NeedAppearances true\n/DR 3 0 R\n>>\n");
    EXPECT_EQ(QpdfForm(Path()), "needappearances True\nname|/Tx|u:Anna|0|False||None\nplain|/Tx|None|0|False||None\n");
}

TEST_F(PdfForm, BorderAnnotationAndFieldFlagLines) {
    struct TCase {
        int borderWidth;
        TPdfBorderStyle style;
        bool visible, printable, readOnly, required, noExport;
        const char* border;
        const char* annotationFlags;  // empty: no /F line
        const char* fieldFlags;       // empty: no /Ff line
    };
    using S = TPdfBorderStyle;
    const TCase cases[] = {
        {1, S::Solid, true, true, false, false, false, "/BS <</S/S>>", "/F 4", ""},
        {1, S::Dashed, true, false, true, false, false, "/BS <</S/D>>", "", "/Ff 1"},
        {3, S::Dashed, false, true, false, true, false, "/BS <</W 3 /S/D>>", "/F 6", "/Ff 2"},
        {0, S::Beveled, false, false, false, false, true, "/BS <</W 0>>", "/F 2", "/Ff 4"},
        {2, S::Inset, true, true, true, true, true, "/BS <</W 2 /S/I>>", "/F 4", "/Ff 7"},
        {1, S::Beveled, true, true, false, false, false, "/BS <</S/B>>", "/F 4", ""},
        {1, S::Underline, true, true, false, false, false, "/BS <</S/U>>", "/F 4", ""},
    };
    int y = 20;
    for (const TCase& c : cases) {
        auto& field = Canvas().AddField<TTextField>("f" + std::to_string(y));
        field.BorderWidth = c.borderWidth;
        field.BorderStyle = c.style;
        field.Visible = c.visible;
        field.Printable = c.printable;
        field.ReadOnly = c.readOnly;
        field.Required = c.required;
        field.NoExport = c.noExport;
        field.PutOnForm(20, y, 100, 20);
        y += 30;
    }
    const std::string file = End();
    const std::string fields = Python(PypdfFields, Quoted(Path()));
    y = 20;
    for (const TCase& c : cases) {
        const std::string name = "f" + std::to_string(y);
        const std::string widget = ObjectWith(file, "/T (" + name + ")");
        SCOPED_TRACE(name);
        EXPECT_TRUE(Contains(widget, std::string("\n") + c.border + "\n")) << widget;
        EXPECT_EQ(CountOf(widget, "\n/F "), *c.annotationFlags ? 1u : 0u) << widget;
        if (*c.annotationFlags) {
            EXPECT_TRUE(Contains(widget, std::string("\n") + c.annotationFlags + "\n")) << widget;
        }
        EXPECT_EQ(CountOf(widget, "/Ff "), *c.fieldFlags ? 1u : 0u) << widget;
        if (*c.fieldFlags) {
            EXPECT_TRUE(Contains(widget, std::string("\n") + c.fieldFlags + "\n")) << widget;
            EXPECT_TRUE(Contains(fields, name + "|/Tx|None|" + (c.fieldFlags + 4) + "|")) << fields;
        }
        y += 30;
    }
}

TEST_F(PdfForm, RadioGroupOfThreeWithTheSecondChecked) {
    auto& group = Group("colour", {"first", "second", "third"}, "second");
    group.GroupBrush.Color = clYellow;
    group.Tooltip = "Pick one";
    group.PutOnForm(0, 0, 0, 0);
    const std::string file = End();
    const std::string object = ObjectWith(file, "/T (colour)");
    EXPECT_TRUE(Contains(object, "<<\n/F 4\n/T (colour)\n/TU (Pick one)\n/BS <</S/S>>\n/DA (/F0 10 Tf 0 0 0 rg)\n"
                                 "/FT/Btn\n/V /second\n/DV /second\n/Kids [\n"))
        << object;
    EXPECT_TRUE(Contains(object, "]\n/Ff 32768\n>>\n")) << object;
    EXPECT_FALSE(Contains(object, "/Rect")) << "the group itself is no widget";
    // The buttons share the group's appearance characteristics, with the dot caption.
    const int appearance = ReferenceAfter(file, "/MK ");
    EXPECT_EQ(CountOf(file, "/MK " + std::to_string(appearance) + " 0 R\n"), 3u);
    EXPECT_EQ(ObjectText(file, appearance),
              std::to_string(appearance) + " 0 obj\n<<\n/BC [0 0 0 ]\n/BG [1 1 0 ]\n/CA (l)\n>>\n");
    const std::string parent = std::to_string(ReferenceAfter(file, "/Parent ")) + " 0 R\n";
    EXPECT_EQ(QpdfForm(Path()), "needappearances True\n"
                                "colour|/Btn|/second|32768|True|/Off|" + parent +
                                "colour|/Btn|/second|32768|True|/second|" + parent +
                                "colour|/Btn|/second|32768|True|/Off|" + parent);
    EXPECT_EQ(Python(PypdfFields, Quoted(Path())), "colour|/Btn|/second|32768|3|Pick one|/Off,/first,/second,/third\n");
    EXPECT_EQ(RunTool("mutool show " + Quoted(Path()) + " trailer/Root/AcroForm/Fields/1/V").output, "/second\n");
}

TEST_F(PdfForm, OfTwoCheckedButtonsTheLastGivesTheGroupItsValue) {
    auto& group = Canvas().AddField<TRadioGroupField>("pick");
    int y = 200;
    for (const std::string name : {"first", "middle", "last"}) {
        auto& widget = Canvas().AddField<TRadioButtonField>(name, group);
        widget.Checked = name != "middle";
        widget.PutOnForm(50, y, 12, 12);
        y += 16;
    }
    group.PutOnForm(0, 0, 0, 0);
    const std::string object = ObjectWith(End(), "/T (pick)");
    EXPECT_TRUE(Contains(object, "/FT/Btn\n/V /last\n/DV /last\n")) << object;
}

TEST_F(PdfForm, AGroupNotPutIsPutAtTheEndOfItsButtonsPage) {
    Group("size", {"small", "large"}, "large");
    pdf.NewPage();
    const std::string file = End();
    const std::string object = ObjectWith(file, "/T (size)");
    EXPECT_TRUE(Contains(object, "/V /large\n")) << object;
    EXPECT_FALSE(Contains(object, "/Rect")) << object;
    // Written before the first page object, and listed by the form but not by the page.
    const int group = ReferenceAfter(file, "/Parent ");
    EXPECT_LT(file.find(std::to_string(group) + " 0 obj\n"), file.find("/Type/Page\n"));
    EXPECT_TRUE(Contains(ObjectText(file, 4), "/Fields[\n" + std::to_string(group) + " 0 R\n]\n"));
    EXPECT_FALSE(Contains(file, "/Annots [\n" + std::to_string(group) + " 0 R"));
    EXPECT_EQ(Python(PypdfFields, Quoted(Path())), "size|/Btn|/large|32768|2||/Off,/large,/small\n");
}

TEST_F(PdfForm, MisusedFieldsAbandonTheDocumentNamingTheField) {
    struct TCase {
        const char* what;
        std::function<void(PdfForm&)> misuse;
        const char* message;
    };
    const TCase cases[] = {
        {"group of one button",
         [](PdfForm& t) { t.Group("solo", {"only"}, "only").PutOnForm(0, 0, 0, 0); },
         "Radio groups must be defined after their radio buttons: solo"},
        {"group of one button left for the page end",
         [](PdfForm& t) {
             t.Group("solo", {"only"}, "only");
             t.pdf.EndDoc();
         },
         "Radio groups must be defined after their radio buttons: solo"},
        {"group put before its buttons",
         [](PdfForm& t) {
             auto& group = t.Canvas().AddField<TRadioGroupField>("early");
             t.Canvas().AddField<TRadioButtonField>("a", group).PutOnForm(10, 10, 10, 10);
             t.Canvas().AddField<TRadioButtonField>("b", group);
             group.PutOnForm(0, 0, 0, 0);
         },
         "Radio groups must be defined after their radio buttons: early"},
        {"field put twice",
         [](PdfForm& t) {
             auto& field = t.Canvas().AddField<TCheckBoxField>("twice");
             field.PutOnForm(10, 10, 10, 10);
             field.PutOnForm(10, 30, 10, 10);
         },
         "Field already put on form: twice"},
        {"export name holding a NUL",
         [](PdfForm& t) {
             auto& group = t.Canvas().AddField<TRadioGroupField>("nul");
             t.Canvas().AddField<TRadioButtonField>(std::string("a\0b", 3), group).PutOnForm(10, 10, 10, 10);
         },
         "Export name holds a NUL character: nul"},
        {"group put twice",
         [](PdfForm& t) {
             auto& group = t.Group("again", {"x", "y"}, "x");
             group.PutOnForm(0, 0, 0, 0);
             group.PutOnForm(0, 0, 0, 0);
         },
         "Field already put on form: again"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        if (!pdf.Printing()) pdf.BeginDoc();
        EXPECT_EQ(MessageOf([&] { c.misuse(*this); }), c.message);
        EXPECT_FALSE(pdf.Printing());
        EXPECT_FALSE(Written());
    }
}

TEST_F(PdfForm, NamesInAnyScriptReadBackUnchanged) {
    const std::string name = "Größe # 1 (Ελλάδα) 日本";
    auto& field = Canvas().AddField<TTextField>(name);
    field.Value = "Ünïcödé 値";
    field.Tooltip = "Подсказка";
    field.PutOnForm(50, 50, 200, 20);
    const std::vector<std::string> exports = {"with space", "hash#23", "Ärger/(x)", "日本"};
    Group("choice", exports, "hash#23").PutOnForm(0, 0, 0, 0);
    const std::string file = End();
    EXPECT_TRUE(Contains(file, "/V /hash#2323\n"));
    EXPECT_TRUE(Contains(file, "/AP <</N <</#C3#84rger#2F#28x#29 "));
    EXPECT_EQ(Python(PypdfFields, Quoted(Path())),
              name + "|/Tx|Ünïcödé 値|0|0|Подсказка|\n"
              "choice|/Btn|/hash#23|32768|4||/Off,/hash#23,/with space,/Ärger/(x),/日本\n");
}

TEST_F(PdfForm, EveryActionKindOnItsEvent) {
    auto& field = Canvas().AddField<TTextField>("acting");
    using E = TPdfFieldEvent;
    using K = TPdfActionKind;
    field.AddAction(E::Validate, K::Script, "event.rc = true;");
    field.AddAction(E::Enter, K::Hide, "other");
    field.AddAction(E::Exit, K::Show, "other");
    field.AddAction(E::Format, K::Script, "event.value = 'x';");
    field.AddAction(E::Focus, K::Reset);
    field.AddAction(E::Keystroke, K::Import, "data.fdf");
    field.AddAction(E::Blur, K::Submit, "http://example.org/submit");
    field.AddAction(E::MouseDown, K::Link, "http://example.org/");
    field.AddAction(E::MouseUp, K::Link, "NextPage");
    field.PutOnForm(50, 50, 200, 20);
    const std::string file = End();
    const std::string widget = ObjectWith(file, "/T (acting)");
    EXPECT_TRUE(Contains(widget, "\n/AA<<\n/V "));
    EXPECT_TRUE(Contains(widget, " 0 R\n>>\n/FT/Tx\n"));
    EXPECT_TRUE(Contains(ObjectText(file, ReferenceAfter(widget, "/E ")), "<<\n/S/Hide\n/T (other)\n/H true\n>>\n"));
    EXPECT_TRUE(Contains(ObjectText(file, ReferenceAfter(widget, "/X ")), "<<\n/S/Hide\n/T (other)\n/H false\n>>\n"));
    EXPECT_TRUE(Contains(ObjectText(file, ReferenceAfter(widget, "/Fo ")), "<<\n/S/ResetForm\n>>\n"));
    EXPECT_EQ(Python(PypdfActions, Quoted(Path())),
              "/V /JavaScript /JS=event.rc = true;\n"
              "/E /Hide /H=True /T=other\n"
              "/X /Hide /H=False /T=other\n"
              "/F /JavaScript /JS=event.value = 'x';\n"
              "/Fo /ResetForm \n"
              "/K /ImportData /F=data.fdf\n"
              "/Bl /SubmitForm /F=http://example.org/submit\n"
              "/D /URI /URI=http://example.org/\n"
              "/U /Named /N=/NextPage\n");
}

TEST_F(PdfForm, ASecondActionOnAnEventReplacesTheFirst) {
    // A field written with two actions on one event, as qpdf sees it: the key twice is damage.
    EXPECT_FALSE(QpdfChecks(std::string(MORDALE_TEST_DATA) + "/form-duplicate-aa-key.pdf"));
    auto& field = Canvas().AddField<TTextField>("acting");
    using E = TPdfFieldEvent;
    using K = TPdfActionKind;
    field.AddAction(E::Enter, K::Script, "first();");
    field.AddAction(E::Exit, K::Reset);
    field.AddAction(E::Enter, K::Hide, "other");
    field.PutOnForm(50, 50, 200, 20);
    const std::string file = End();  // checked by qpdf
    EXPECT_EQ(CountOf(ObjectWith(file, "/T (acting)"), "\n/E "), 1u);
    EXPECT_FALSE(Contains(file, "first();"));
    EXPECT_EQ(Python(PypdfActions, Quoted(Path())), "/E /Hide /H=True /T=other\n/X /ResetForm \n");
}

TEST_F(PdfForm, EncryptedFieldsDecryptForReaders) {
    pdf.Abort();
    pdf.SetUserPassword("user", true, false, false, false);
    pdf.BeginDoc();
    auto& field = Canvas().AddField<TTextField>("Straße");
    field.Value = "geheim";
    field.Tooltip = "Nur für dich";
    field.AddAction(TPdfFieldEvent::Keystroke, TPdfActionKind::Script, "event.rc = true;");
    field.PutOnForm(50, 50, 200, 20);
    Group("pick", {"one", "two"}, "two").PutOnForm(0, 0, 0, 0);
    pdf.EndDoc();
    EXPECT_TRUE(QpdfChecks(Path(), "user"));
    const std::string file = ReadFile(Path());
    EXPECT_FALSE(Contains(file, "geheim"));
    EXPECT_FALSE(Contains(file, "/DA (/F0"));
    EXPECT_EQ(Python(PypdfFields, Quoted(Path()) + " user"),
              "Straße|/Tx|geheim|0|0|Nur für dich|\npick|/Btn|/two|32768|2||/Off,/one,/two\n");
    EXPECT_TRUE(Contains(QpdfForm(Path(), "user"), "\nStraße|/Tx|u:geheim|0|False||None\n"));
    const std::string script = RunTool("qpdf --password=user --show-object=" +
                                       std::to_string(ReferenceAfter(file, "/K ")) + " " + Quoted(Path()))
                                   .output;
    EXPECT_TRUE(Contains(script, "/JS (event.rc = true;)")) << script;
}

TEST_F(PdfForm, WidgetsWithoutASizeTakeOneFromTheFont) {
    Canvas().GetFont().Size = 20;
    const int line = Canvas().TextHeight("A");
    const int digits = Canvas().TextWidth("00000000000000000000");
    Canvas().AddField<TCheckBoxField>("box").PutOnForm(100, 100, 0, 0);
    Canvas().AddField<TTextField>("text").PutOnForm(100, 200, 0, 0);
    Canvas().AddField<TTextField>("wide").PutOnForm(100, 300, 300, 0);
    const std::string file = End();
    auto rect = [&](const std::string& name) {
        const std::string widget = ObjectWith(file, "/T (" + name + ")");
        const size_t at = widget.find("/Rect[") + 6;
        return widget.substr(at, widget.find(']', at) - at);
    };
    ASSERT_GT(line, 10);
    // A square of one text line; a line with room around it, twenty digits wide.
    EXPECT_EQ(rect("box"), "100 742 " + std::to_string(100 + line) + " " + std::to_string(742 - line));
    EXPECT_EQ(rect("text"), "100 642 " + std::to_string(100 + digits + line / 2) + " " +
                                std::to_string(642 - line - line / 2));
    EXPECT_EQ(rect("wide"), "100 542 400 " + std::to_string(542 - line - line / 2));
}

TEST_F(PdfForm, FieldsNeverPutMakeNoForm) {
    Canvas().AddField<TTextField>("unused");
    const std::string file = End();
    EXPECT_FALSE(Contains(file, "/AcroForm"));
    EXPECT_TRUE(ObjectText(file, 4).empty());
}

// Poppler draws the widgets from their appearance characteristics and states; a stored rendering
// shows when that changes.
TEST_F(PdfForm, RenderedPageMatchesTheReference) {
    pdf.Abort();
    pdf.SetPageWidth(200);
    pdf.SetPageHeight(120);
    pdf.BeginDoc();
    Canvas().Brush().Color = RGB(230, 240, 255);
    auto& text = Canvas().AddField<TTextField>("text");
    text.Value = "Form 42";
    text.PutOnForm(10, 10, 120, 20);
    auto& box = Canvas().AddField<TCheckBoxField>("box");
    box.Checked = true;
    box.BorderColor = clBlue;
    box.PutOnForm(150, 12, 16, 16);
    auto& group = Group("radio", {"a", "b", "c"}, "b", 10, 45);
    group.GroupBrush.Color = clWhite;
    group.PutOnForm(0, 0, 0, 0);
    pdf.EndDoc();
    EXPECT_TRUE(QpdfChecks(Path()));
    RunTool("pdftoppm -r 144 -png -singlefile " + Quoted(Path()) + " " + Quoted(scratch.Path("page")));
    const TRgbImage page = ReadWithImageMagick(scratch.Path("page.png"));
    const TRgbImage reference = ReadWithImageMagick(std::string(MORDALE_TEST_DATA) + "/form-fields.png");
    ASSERT_EQ(page.width, reference.width);
    ASSERT_EQ(page.height, reference.height);
    int differing = 0;
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x)
            for (int c = 0; c < 3; ++c)
                if (std::abs(page.At(x, y)[c] - reference.At(x, y)[c]) > 64) {
                    ++differing;
                    break;
                }
    // Anti-aliasing may move a few edge pixels; a lost border, dot or check mark moves a hundred.
    EXPECT_LE(differing, 40);
}

}  // namespace
