// The Markdown report: text conversion, pictures and the message-box table.
#include "trial.h"

namespace trial {

Report Out;

std::string Utf8(const std::string &text, UINT codePage)
{
    if (text.empty())
        return text;
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), &wide[0], int(wide.size())));
    std::string out(wide.size() * 4, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &out[0], int(out.size()), nullptr,
                                   nullptr));
    return out;
}

std::string Cell(const std::string &ansi)
{
    std::string out;
    for (char c : Utf8(ansi)) {
        if (c == '|' || c == '`' || c == '*' || c == '_' || c == '<' || c == '>')
            out += '\\';
        if (c == '\r')
            continue;
        if (c == '\n') {
            out += "<br>";
            continue;
        }
        out += c;
    }
    return out;
}

void Line(const std::string &utf8)
{
    Out.markdown += utf8 + "\n";
}

void Summary(const std::string &utf8)
{
    Out.summary += "- " + utf8 + "\n";
}

std::string Shot(HWND window, const std::string &prefix, const std::string &what)
{
    char number[16];
    wsprintfA(number, "%02d", ++Out.shot);
    const std::string name = prefix + "-" + number + "-" + what;
    // The picture is taken from the screen, where another program's window
    // may lie over this one (the group folder that Program Manager opens on
    // the old shell, some time after it was asked to): for the moment of
    // the picture it is put above every other.
    const UINT still = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, still);
    const bool saved = driver::SaveWindowBitmap(window, Out.dir + name + ".bmp");
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, still);
    if (!saved)
        return "(no picture)";
    // tools/trial.sh turns every BMP into the PNG named here.
    return "![" + what + "](" + name + ".png)";
}

static std::string ButtonName(int id)
{
    switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    }
    return "#" + std::to_string(id);
}

// The default button carries the default push-button style; the box itself
// knows it too, which also covers a box whose styles cannot be read.
static int DefaultButton(const driver::Box &box)
{
    for (int id : box.buttons) {
        LONG style = GetWindowLongA(GetDlgItem(box.window, id), GWL_STYLE);
        if ((style & 0x0F) == BS_DEFPUSHBUTTON)
            return id;
    }
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(box.window, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer) &&
        HIWORD(answer) == DC_HASDEFID)
        return LOWORD(answer);
    return box.buttons.empty() ? IDOK : box.buttons.front();
}

BoxRecord AnswerBox(const driver::Box &box, const std::string &prefix, const std::string &phase, bool wantYes,
                    int preferred)
{
    BoxRecord record;
    record.phase = phase;
    record.text = box.text;
    record.caption = box.caption;
    record.icon = box.icon;
    int fallback = DefaultButton(box);
    for (int id : box.buttons) {
        if (!record.buttons.empty())
            record.buttons += ", ";
        record.buttons += ButtonName(id) + (id == fallback ? " (default)" : "");
    }
    record.picture = Shot(box.window, prefix, "box");
    int answer = fallback;
    auto has = [&](int id) {
        for (int b : box.buttons)
            if (b == id)
                return true;
        return false;
    };
    if (wantYes && has(IDYES))
        answer = IDYES;
    else if (preferred != 0 && has(preferred))
        answer = preferred;
    record.answer = ButtonName(answer);
    driver::Answer(box, answer);
    return record;
}

void WriteBoxes(const std::vector<BoxRecord> &boxes)
{
    if (boxes.empty()) {
        Line("No message box was shown.");
        Line();
        return;
    }
    Line("| # | when | caption | icon | text | buttons | answered |");
    Line("|---|---|---|---|---|---|---|");
    int n = 0;
    for (const BoxRecord &b : boxes)
        Line("| " + std::to_string(++n) + " | " + b.phase + " | " + Cell(b.caption) + " | " + b.icon + " | " +
             Cell(b.text) + " | " + b.buttons + " | " + b.answer + " |");
    Line();
    n = 0;
    for (const BoxRecord &b : boxes)
        Line("Box " + std::to_string(++n) + ": " + b.picture + "\n");
}

}  // namespace trial
