// The cases of the robustness suite. Scripts are byte strings in code page
// 932 (this file is compiled with that execution character set): ソ is
// 0x83 0x5C and 表 is 0x95 0x5C, so both carry a backslash byte as their
// second byte; "\x83" alone is a lead byte without its second byte.
#include "malformed.h"

#include <random>
#include <set>

namespace malformed {

namespace {

const char Crlf[] = "\r\n";
const char Lead[] = "\x83";

std::string Head(const std::string &title, const std::string &folder)
{
    return "[Install]\r\nTitle=" + title + "\r\nFolder=" + folder + "\r\n";
}

std::string Plain(const std::string &more = "")
{
    return Head("Rob{n}", "Rob{n}") + more;
}

Case Scripted(const std::string &label, const std::string &script, Expect expect = ExpectAuto)
{
    Case c;
    c.label = label;
    c.files.push_back({"SETUP.INF", script});
    c.expect = expect;
    return c;
}

// The data files that the entries of walking and removal cases name.
void AddData(Case &c, const std::string &under = "")
{
    for (const char *name : {"A.TXT", "B.DAT", "ソ.TXT", "表.TXT", "SUB\\C.TXT"})
        c.files.push_back({under + name, std::string("data of ") + name + Crlf});
}

Case Walking(const std::string &label, const std::string &script, const std::string &typed, bool finish = true)
{
    Case c = Scripted(label, script, ExpectWizard);
    AddData(c);
    c.walk = true;
    c.typed = typed;
    c.finish = finish;
    return c;
}

// A removal run on {dir}inst\ whose script copy is `script`; the files the
// entries name lie there too.
Case Removing(const std::string &label, const std::string &script, Expect expect = ExpectRemoval)
{
    Case c;
    c.label = label;
    c.mode = RunMode;
    c.tail = "x {dir}inst\\SETUP.EXE";
    c.files.push_back({"inst\\SETUP.INF", script});
    c.files.push_back({"inst\\SETUP.EXE", "installed copy"});
    AddData(c, "inst\\");
    c.oracle = "inst\\SETUP.INF";
    c.expect = expect;
    return c;
}

std::string Utf16(const std::string &cp932)
{
    // The profile reader also takes a little-endian UTF-16 file with its
    // byte-order mark. Only the ASCII lines of these scripts need converting.
    std::string out = "\xFF\xFE";
    for (char ch : cp932) {
        out += ch;
        out += '\0';
    }
    return out;
}

}  // namespace

std::string Filled(const std::string &prefix, size_t length, bool lead)
{
    std::string text = prefix;
    size_t body = lead ? length - 1 : length;
    while (text.size() < body)
        text += static_cast<char>('a' + text.size() % 26);
    text.resize(body);
    if (lead)
        text += Lead;
    return text;
}

std::string Expand(const std::string &text, const std::string &dir, int n)
{
    char number[8];
    snprintf(number, sizeof number, "%03d", n % 1000);
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 5, "{dir}") == 0) {
            out += dir;
            i += 5;
        } else if (text.compare(i, 3, "{n}") == 0) {
            out += number;
            i += 3;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::vector<Case> HandPickedScripts()
{
    std::vector<Case> cases;
    auto add = [&](const std::string &label, const std::string &script, Expect expect = ExpectAuto) {
        cases.push_back(Scripted(label, script, expect));
    };

    // Missing pieces and empty values.
    {
        Case c = Scripted("no script file", "", ExpectBroken);
        c.files.clear();
        cases.push_back(c);
    }
    {
        Case c = Scripted("script is a directory", "", ExpectBroken);
        c.files = {{"SETUP.INF\\X", "x"}};
        cases.push_back(c);
    }
    add("empty file", "", ExpectBroken);
    add("only the section line", "[Install]\r\n", ExpectBroken);
    add("no Title", "[Install]\r\nFolder=Rob{n}\r\n1=A.TXT\r\n", ExpectBroken);
    add("no Folder", "[Install]\r\nTitle=Rob{n}\r\n1=A.TXT\r\n", ExpectBroken);
    add("empty Title", Head("", "Rob{n}"), ExpectBroken);
    add("empty Folder", Head("Rob{n}", ""), ExpectBroken);
    add("Title of blanks", Head("    ", "Rob{n}"), ExpectBroken);
    add("Folder of blanks", Head("Rob{n}", "\t  "), ExpectBroken);
    add("quoted empty Title", Head("\"\"", "Rob{n}"));
    add("keys in another section", "[Setup]\r\nTitle=Rob{n}\r\nFolder=Rob{n}\r\n", ExpectBroken);
    add("keys before any section", "Title=Rob{n}\r\nFolder=Rob{n}\r\n[Install]\r\n", ExpectBroken);
    add("section and keys in lower case", "[install]\r\ntitle=Rob{n}\r\nfolder=Rob{n}\r\n", ExpectWizard);
    add("blanks around section and keys", "[ Install ]\r\n  Title  =  Rob{n}  \r\n Folder = Rob{n}\r\n");
    add("unterminated section line", "[Install\r\nTitle=Rob{n}\r\nFolder=Rob{n}\r\n");
    add("keys without equals sign", "[Install]\r\nTitle\r\nFolder\r\nRob{n}\r\n", ExpectBroken);
    add("Title twice", "[Install]\r\nTitle=\r\nTitle=Rob{n}\r\nFolder=Rob{n}\r\n");
    add("section twice", "[Install]\r\nTitle=Rob{n}\r\n[Group]\r\n1=a,b\r\n[Install]\r\nFolder=Rob{n}\r\n");

    // Field limits: Title and Folder hold 99 bytes.
    add("Title of 98 bytes", Head(Filled("Rob{n}", 98), "Rob{n}"), ExpectWizard);
    add("Title of 99 bytes", Head(Filled("Rob{n}", 99), "Rob{n}"), ExpectWizard);
    add("Title of 100 bytes", Head(Filled("Rob{n}", 100), "Rob{n}"), ExpectWizard);
    add("Title of 400 bytes", Head(Filled("Rob{n}", 400), "Rob{n}"), ExpectWizard);
    add("Title with a lead byte at byte 99", Head(Filled("Rob{n}", 98) + "ソ", "Rob{n}"), ExpectWizard);
    add("Title ending in a lone lead byte", Head(Filled("Rob{n}", 40, true), "Rob{n}"), ExpectWizard);
    add("Title of 99 bytes ending in a lead byte", Head(Filled("Rob{n}", 99, true), "Rob{n}"), ExpectWizard);
    add("Title of double-byte characters", Head("ソフト表示ソフト表示{n}", "Rob{n}"), ExpectWizard);
    add("Folder of 99 bytes", Head("Rob{n}", Filled("Rob{n}", 99)), ExpectWizard);
    add("Folder of 100 bytes", Head("Rob{n}", Filled("Rob{n}", 100)), ExpectWizard);
    add("Folder of 300 bytes", Head("Rob{n}", Filled("Rob{n}", 300)), ExpectWizard);
    add("Folder with a lead byte at byte 99", Head("Rob{n}", Filled("Rob{n}", 98) + "表"), ExpectWizard);
    add("Folder ending in a lone lead byte", Head("Rob{n}", "Rob{n}" + std::string(Lead)), ExpectWizard);
    add("Folder with 0x5C second bytes", Head("Rob{n}", "ソ表ソ表{n}"), ExpectWizard);
    add("Folder with a backslash", Head("Rob{n}", "Rob{n}\\sub"), ExpectWizard);
    // What the checker calls an error in Folder or Title is refused at start.
    add("Folder ending in a backslash", Head("Rob{n}", "Rob{n}\\"), ExpectBroken);
    add("Folder of a backslash", Head("Rob{n}", "\\"), ExpectBroken);
    add("Folder of two dots", Head("Rob{n}", ".."), ExpectBroken);
    add("Folder with a colon", Head("Rob{n}", "D:\\Rob{n}"), ExpectBroken);
    add("Title of two dots", Head("..", "Rob{n}"), ExpectBroken);
    add("Title with a backslash", Head("Rob{n}\\..\\..", "Rob{n}"), ExpectBroken);

    // TSR.
    for (const char *tsr : {"1", "10", "1abc", "0", "", "１", "111111111111111111111", "\x83", " 1"})
        add(std::string("TSR=") + tsr, Plain(std::string("TSR=") + tsr + Crlf), ExpectWizard);

    // Numbered entries: gaps, leading zeros, empty values and commas.
    add("Install 1 and 3", Plain("1=A.TXT\r\n3=B.DAT\r\n"), ExpectWizard);
    add("Install 2 only", Plain("2=A.TXT\r\n"), ExpectWizard);
    add("Install key 01", Plain("01=A.TXT\r\n"), ExpectWizard);
    add("Install key with blanks", Plain(" 1 =A.TXT\r\n"), ExpectWizard);
    add("Install value empty", Plain("1=\r\n2=A.TXT\r\n"), ExpectWizard);
    add("Install value a comma", Plain("1=,\r\n"), ExpectWizard);
    add("Install value commas", Plain("1=,,,\r\n"), ExpectWizard);
    // A destination that is empty, or was cut by the reader, is refused.
    add("Install value ending in a comma", Plain("1=A.TXT,\r\n"), ExpectBroken);
    add("Install value of 259 bytes", Plain("1=" + Filled("A", 259) + Crlf), ExpectWizard);
    add("Install value of 260 bytes", Plain("1=" + Filled("A", 260) + Crlf), ExpectBroken);
    add("Install value of 1000 bytes", Plain("1=" + Filled("A", 1000) + Crlf), ExpectBroken);
    add("Install value with a lead byte at byte 259", Plain("1=" + Filled("A", 258) + "ソ" + Crlf), ExpectBroken);
    add("Install value ending in a lead byte", Plain("1=A.TXT," + Filled("B", 30, true) + Crlf), ExpectWizard);
    add("Install lead byte before the comma", Plain("1=A" + std::string(Lead) + ",B\r\n"), ExpectWizard);
    {
        std::string many;
        for (int i = 1; i <= 40; ++i)
            many += std::to_string(i) + "=A.TXT,F" + std::to_string(i) + Crlf;
        add("forty Install entries", Plain(many), ExpectWizard);
    }
    add("Group without a comma", Plain("[Group]\r\n1=APP\r\n2=a,b\r\n"), ExpectWizard);
    add("Group value a comma", Plain("[Group]\r\n1=,\r\n"), ExpectWizard);
    add("Group caption empty", Plain("[Group]\r\n1=,A.TXT\r\n"), ExpectWizard);
    add("Group caption of 259 bytes", Plain("[Group]\r\n1=" + Filled("C", 250) + ",A.TXT\r\n"), ExpectWizard);
    add("Group lead byte before the comma", Plain("[Group]\r\n1=C" + std::string(Lead) + ",A.TXT\r\n"),
        ExpectWizard);
    add("Reg section only", Plain("[Reg]\r\n1=HKEY_CURRENT_USER\r\n"), ExpectWizard);

    // Damage to the file as a whole.
    add("LF line ends", "[Install]\nTitle=Rob{n}\nFolder=Rob{n}\n1=A.TXT\n");
    add("CR line ends", "[Install]\rTitle=Rob{n}\rFolder=Rob{n}\r");
    add("no final line end", "[Install]\r\nTitle=Rob{n}\r\nFolder=Rob{n}");
    add("UTF-8 byte-order mark", "\xEF\xBB\xBF" + Plain());
    add("UTF-16 file", Utf16(Plain("1=A.TXT\r\n")));
    add("NUL byte inside the Title line", std::string("[Install]\r\nTitle=Ro\0b{n}\r\nFolder=Rob{n}\r\n", 39));
    add("NUL byte before the section", std::string("\0[Install]\r\nTitle=Rob{n}\r\nFolder=Rob{n}\r\n", 40));
    add("line of 20000 bytes before Title", "[Install]\r\n" + Filled("junk", 20000) + Crlf + Head("Rob{n}", "Rob{n}"));
    {
        std::mt19937 bytes(7);
        std::string junk;
        for (int i = 0; i < 3000; ++i)
            junk += static_cast<char>(bytes() & 0xFF);
        add("random bytes", junk);
        add("random bytes after a good head", Plain() + junk);
    }
    add("control characters in values", Head("Rob\x01\x02{n}\x7F", "Rob\x1B{n}"));

    // Request mode on the same kinds of script.
    for (const char *tail : {"r", "R", "/r", "/R", "r and more", "Rx"}) {
        Case c = Scripted(std::string("request ") + tail, Plain("1=A.TXT\r\n"), ExpectConfirm);
        c.mode = RequestMode;
        c.tail = tail;
        cases.push_back(c);
    }
    {
        Case c = Scripted("request, resident, Title of 99 double-byte bytes",
                          Head(Filled("ソ表", 97) + "表", "Rob{n}") + "TSR=1\r\n", ExpectConfirm);
        c.mode = RequestMode;
        c.tail = "/R";
        cases.push_back(c);
        c = Scripted("request, no Title", "[Install]\r\nFolder=Rob{n}\r\n", ExpectBroken);
        c.mode = RequestMode;
        c.tail = "r";
        cases.push_back(c);
        c = Scripted("request, Title ending in a lead byte", Head(Filled("Rob{n}", 99, true), "Rob{n}"),
                     ExpectConfirm);
        c.mode = RequestMode;
        c.tail = "R";
        cases.push_back(c);
    }
    return cases;
}

std::vector<Case> HandPickedCommandLines()
{
    std::vector<Case> cases;
    const std::string script = Plain("1=A.TXT\r\n");

    // The wizard's tails.
    for (const char *tail : {"", "X", "//r", "/", "-r", "/X x", "  ", "\t", "\"x\""}) {
        Case c = Scripted(std::string("wizard tail '") + tail + "'", script, ExpectWizard);
        c.tail = tail;
        cases.push_back(c);
    }

    // Names of the setup program itself.
    auto named = [&](const std::string &label, const std::string &exe, const std::string &scriptName,
                     Expect expect) {
        Case c = Scripted(label, script, expect);
        c.exe = exe;
        c.files[0].path = scriptName;
        c.oracle = scriptName;
        cases.push_back(c);
    };
    named("lower-case name", "setup.exe", "setup.INF", ExpectWizard);
    named("name with a longer extension", "SETUP.EXEC", "SETUP.EINF", ExpectWizard);
    named("name without extension", "SETUP", "SEINF", ExpectWizard);
    named("name of three bytes", "ABC", "INF", ExpectWizard);
    named("name of two bytes", "AB", "AB.INF", ExpectBroken);
    named("name of 51 bytes", Filled("N", 47) + ".EXE", Filled("N", 47) + ".INF", ExpectWizard);
    named("name of 52 bytes", Filled("N", 48) + ".EXE", Filled("N", 48) + ".INF", ExpectBroken);
    // A 0x5C second byte in the last level counts as the separator there.
    named("name ソ.EXE", "ソ.EXE", "ソ.INF", ExpectWizard);
    named("name ソフト表示.EXE", "ソフト表示.EXE", "ソフト表示.INF", ExpectWizard);
    named("directory 表", "表\\SETUP.EXE", "表\\SETUP.INF", ExpectWizard);
    named("directory ソ表 two levels", "ソ\\表\\SETUP.EXE", "ソ\\表\\SETUP.INF", ExpectWizard);
    {
        // Program paths of 259 bytes and beyond: {dir} is 15 bytes.
        std::string level = Filled("D", 234);
        named("program path of 259 bytes", level + "\\SETUP.EXE", level + "\\SETUP.INF", ExpectWizard);
        // Longer paths cannot be started at all.
    }

    // Removal runs named by odd paths. Those that cannot name a script get
    // the script message; inst\ holds a usable one for the others.
    auto run = [&](const std::string &label, const std::string &tail, Expect expect,
                   const std::vector<File> &more = {}, const std::string &oracle = "inst\\SETUP.INF") {
        Case c = Removing(label, Plain("1=A.TXT\r\n"), expect);
        c.tail = tail;
        c.oracle = oracle;
        for (const File &file : more)
            c.files.push_back(file);
        cases.push_back(c);
    };
    run("x alone", "x", ExpectBroken);
    run("x and a blank", "x ", ExpectBroken);
    run("x without separator", "x{dir}inst\\SETUP.EXE", ExpectBroken);
    run("x with a path without backslash", "x SETUP.EXE", ExpectBroken);
    run("x with a name of two bytes", "x {dir}inst\\AB", ExpectBroken);
    run("x with a name of three bytes", "x {dir}inst\\ABC", ExpectRemoval, {{"inst\\INF", Plain()}}, "inst\\INF");
    run("x with a directory only", "x {dir}inst\\", ExpectBroken);
    run("x with a name of 51 bytes", "x {dir}inst\\" + Filled("N", 47) + ".EXE", ExpectRemoval,
        {{"inst\\" + Filled("N", 47) + ".INF", Plain()}}, "inst\\" + Filled("N", 47) + ".INF");
    run("x with a name of 52 bytes", "x {dir}inst\\" + Filled("N", 48) + ".EXE", ExpectBroken,
        {{"inst\\" + Filled("N", 48) + ".INF", Plain()}});
    {
        std::string level = Filled("P", 234);
        run("x with a path of 259 bytes", "x {dir}" + level + "\\SETUP.EXE", ExpectRemoval,
            {{level + "\\SETUP.INF", Plain()}}, level + "\\SETUP.INF");
        level = Filled("Q", 235);
        run("x with a path of 260 bytes", "x {dir}" + level + "\\SETUP.EXE", ExpectBroken,
            {{level + "\\SETUP.INF", Plain()}});
        run("x with a path of 700 bytes", "x {dir}" + Filled("R", 680) + "\\SETUP.EXE", ExpectBroken);
    }
    run("x with a quoted path", "x \"{dir}inst\\SETUP.EXE\"", ExpectBroken);
    run("x with text after the path", "x {dir}inst\\SETUP.EXE /r", ExpectBroken);
    run("x with a forward slash", "x {dir}inst/SETUP.EXE", ExpectRemoval);
    run("x with a tab as separator", "x\t{dir}inst\\SETUP.EXE", ExpectRemoval);
    run("x with another byte as separator", "xx{dir}inst\\SETUP.EXE", ExpectRemoval);
    run("/x", "/x {dir}inst\\SETUP.EXE", ExpectRemoval);
    run("x with two blanks", "x  {dir}inst\\SETUP.EXE", ExpectAny);
    run("x naming ソ.EXE", "x {dir}ソ.EXE", ExpectRemoval, {{"ソ.INF", Plain("1=A.TXT\r\n")}}, "ソ.INF");
    run("x naming 表\\SETUP.EXE", "x {dir}表\\SETUP.EXE", ExpectRemoval,
        {{"表\\SETUP.INF", Plain("1=A.TXT\r\n")}, {"表\\A.TXT", "a"}}, "表\\SETUP.INF");
    run("x naming a missing directory", "x {dir}missing\\SETUP.EXE", ExpectBroken);
    {
        Case c = Removing("upper-case X", Plain(), ExpectWizard);
        c.tail = "X {dir}inst\\SETUP.EXE";
        c.files.push_back({"SETUP.INF", Plain()});
        c.oracle = "SETUP.INF";
        cases.push_back(c);
        c.label = "two slashes and x";
        c.tail = "//x {dir}inst\\SETUP.EXE";
        cases.push_back(c);
    }
    {
        // A removal at the root of a drive takes only what the script lists,
        // itself and the setup program there; the drive's other files stay.
        Case c = Removing("x at the root of drive S:", Plain("1=A.TXT\r\n"), ExpectRemoval);
        c.tail = "x S:\\ROB{n}.EXE";
        c.files = {{"S:\\ROB{n}.INF", Plain("1=A.TXT\r\n")}};
        c.oracle = "S:\\ROB{n}.INF";
        cases.push_back(c);
    }
    return cases;
}

std::vector<Case> HandPickedWalks()
{
    std::vector<Case> cases;
    const std::string entries = "1=A.TXT\r\n2=B.DAT,SUB\\DIR\\B.DAT\r\n3=ソ.TXT,ソ\\表\\ソ.TXT\r\n4=MISSING.TXT\r\n"
                                "5=表.TXT,表\r\n6=A.TXT,END" + std::string(Lead) + "\r\n";
    cases.push_back(Walking("copies of every kind", Plain(entries), "{dir}inst"));
    cases.push_back(Walking("levels with 0x5C second bytes", Plain(entries), "{dir}ソ表\\深い表\\ソ"));
    cases.push_back(Walking("a level is a file", Plain(entries), "{dir}A.TXT\\sub"));
    cases.back().must = "path";
    for (const char *typed : {"inst", "", "C:", "C:\\", "\\\\srv\\share\\x", "D:inst"}) {
        cases.push_back(Walking(std::string("typed '") + typed + "'", Plain(entries), typed));
        cases.back().must = "fixed";
    }
    cases.push_back(Walking("typed '{dir}inst\\\\x'", Plain(entries), "{dir}inst\\\\x"));
    cases.push_back(Walking("directory of 259 bytes", Plain(entries), "{dir}" + Filled("L", 243)));
    // The longest directory the page takes: the system's path functions no
    // longer read the drive's room, which the question then shows as 0.
    cases.push_back(Walking("directory of 260 bytes", Plain(entries), "{dir}" + Filled("M", 244)));
    cases.push_back(Walking("a small drive", Plain(entries), "S:\\rob{n}"));
    cases.push_back(Walking("entry joined to 259 bytes", Plain("1=A.TXT," + Filled("J", 239) + Crlf), "{dir}inst"));
    cases.back().never = "copy";
    cases.push_back(Walking("entry joined to 260 bytes", Plain("1=A.TXT," + Filled("K", 240) + Crlf), "{dir}inst"));
    cases.back().must = "copy";
    cases.push_back(Walking("no entries", Plain(), "{dir}inst"));
    cases.push_back(Walking("resident", Plain("TSR=1\r\n1=A.TXT\r\n"), "{dir}inst"));
    auto menu = [&](const std::string &label, const std::string &script) {
        Case c = Walking(label, script, "{dir}inst");
        c.startMenu = true;
        cases.push_back(c);
    };
    const std::string groups = "[Group]\r\n1=..\\Up{n},A.TXT\r\n2=Cap{n},A.TXT,/a,/b\r\n3=ソ表{n},ソ\\表\\ソ.TXT\r\n"
                               "4=" + Filled("C", 250) + ",A.TXT\r\n5=Sub\\Cap,A.TXT\r\n6=Cap\"{n},A.TXT\r\n";
    menu("Start menu with odd captions", Plain(entries + groups));
    menu("Start menu, Title *", Head("*", "Rob{n}") + entries + groups);
    menu("Start menu, Title of 99 bytes", Head(Filled("Rob{n}", 99), "Rob{n}") + entries + groups);
    menu("Start menu, Title ending in a lead byte", Head(Filled("Rob{n}", 30, true), "Rob{n}") + entries + groups);
    return cases;
}

std::vector<Case> HandPickedRemovals()
{
    std::vector<Case> cases;
    // The malformed ones are reported; the ones after a gap are never read.
    auto reg = [&](const std::string &label, const std::string &entries, const char *must = "fixed") {
        cases.push_back(Removing("Reg " + label, Plain("1=A.TXT\r\n[Reg]\r\n" + entries)));
        (*must ? cases.back().must : cases.back().never) = "fixed";
    };
    reg("only a root", "1=HKEY_CURRENT_USER\r\n");
    reg("root and separator", "1=HKEY_CURRENT_USER\\\r\n");
    reg("machine root only", "1=HKEY_LOCAL_MACHINE\r\n2=HKEY_LOCAL_MACHINE\\\r\n");
    reg("classes root only", "1=HKEY_CLASSES_ROOT\r\n2=HKEY_CLASSES_ROOT\\\r\n");
    reg("lower-case root", "1=hkey_current_user\\Software\\RobPlay\\{n}\r\n");
    reg("root with a letter more", "1=HKEY_CURRENT_USERS\r\n2=HKEY_LOCAL_MACHINES\\x\r\n");
    reg("two separators", "1=HKEY_CURRENT_USER\\\\Software\r\n");
    reg("separator then a lone lead byte", "1=HKEY_CURRENT_USER\\\x83\r\n2=HKEY_CURRENT_USER\x83\\Software\r\n");
    reg("value a comma", "1=,\r\n");
    reg("gap after a good key", "1=HKEY_CURRENT_USER\\Software\\RobPlay\\{n}\r\n3=HKEY_CURRENT_USER\r\n", "");
    reg("key 01", "01=HKEY_CURRENT_USER\r\n", "");
    reg("dots below a key", "1=HKEY_CURRENT_USER\\Software\\RobSentinel\\..\r\n", "");
    reg("wildcard key", "1=HKEY_CURRENT_USER\\Software\\RobPlay\\{n}\\*\r\n", "");
    // Directly below a root, whatever the name: every program's.
    reg("dot or wildcard directly below the root", "1=HKEY_CURRENT_USER\\.\r\n2=HKEY_CURRENT_USER\\*\r\n");
    reg("key directly below a root, with a separator after it", "1=HKEY_LOCAL_MACHINE\\SOFTWARE\\\r\n");
    // Empty levels are read away as the registry reads them.
    reg("product key with doubled and trailing separators",
        "1=HKEY_CURRENT_USER\\Software\\\\RobPlay\\{n}\\\r\n", "");
    reg("key path of 259 bytes", "1=HKEY_CURRENT_USER\\Software\\RobPlay\\" + Filled("{n}", 259 - 36) + Crlf, "");
    reg("key path of 300 bytes", "1=HKEY_CURRENT_USER\\Software\\RobPlay\\" + Filled("{n}", 264) + Crlf);
    reg("key path ending in a lead byte", "1=HKEY_CURRENT_USER\\Software\\RobPlay\\{n}" + std::string(Lead) + Crlf, "");
    reg("key with 0x5C second bytes", "1=HKEY_CURRENT_USER\\Software\\RobPlay\\ソ表{n}\\表\r\n", "");

    auto titled = [&](const std::string &label, const std::string &title, const std::string &folder,
                      const std::string &more) {
        // Judged by the start-up's rule: what the checker calls an error in
        // Title or Folder is refused before anything is removed.
        cases.push_back(Removing(label, Head(title, folder) + more, ExpectAuto));
    };
    for (const char *title : {"*", "?", "*.*", "..", ".", "Rob{n}\\..\\..", ":", "ソ\\*"}) {
        titled(std::string("Title ") + title + " with groups", title, "Rob{n}", "1=A.TXT\r\n[Group]\r\n1=a,A.TXT\r\n");
        titled(std::string("Title ") + title + " without groups", title, "Rob{n}", "1=A.TXT\r\n");
    }
    titled("Title ending in a lone lead byte", Filled("Rob{n}", 30, true), "Rob{n}",
           "1=A.TXT\r\n[Group]\r\n1=a,A.TXT\r\n");
    titled("Title of a lone lead byte", Lead, "Rob{n}", "[Group]\r\n1=a,A.TXT\r\n");
    for (const char *folder : {"..", ".", "\\", "*", "Rob{n}\\..", "\\..\\RobSentinel", "Rob{n}\x83"})
        titled(std::string("Folder ") + folder, "Rob{n}", folder, "1=A.TXT\r\n");
    titled("Folder of 99 bytes", "Rob{n}", Filled("Rob{n}", 99), "1=A.TXT\r\n");

    auto files = [&](const std::string &label, const std::string &entries) {
        cases.push_back(Removing("Install " + label, Plain(entries)));
    };
    files("only a comma", "1=,\r\n");
    files("destination a file named ソ", "1=A.TXT,ソ\r\n");
    files("destination ending in a backslash", "1=A.TXT,SUB\\\r\n");
    files("entry 1 a directory", "1=A.TXT,SUB\r\n2=B.DAT\r\n");
    files("entry 2 a directory", "1=A.TXT\r\n2=B.DAT,SUB\r\n");
    files("destinations below 表", "1=A.TXT,表\\A.TXT\r\n2=ソ.TXT,ソ\\表\\ソ.TXT\r\n");
    files("entry 1 too long to join", "1=A.TXT," + Filled("L", 240) + "\r\n2=B.DAT\r\n");
    files("entry 1 joined to 259 bytes", "1=A.TXT," + Filled("L", 239) + "\r\n");
    files("gap in the entries", "1=A.TXT\r\n3=B.DAT\r\n");
    files("key 01", "01=A.TXT\r\n");
    files("wildcard destination", "1=A.TXT,*.TXT\r\n2=B.DAT,?\r\n");
    files("destination ending in a lead byte", "1=A.TXT,A" + std::string(Lead) + "\r\n");
    return cases;
}

std::vector<Case> HandPickedProgmanNames()
{
    std::vector<Case> cases;
    const std::string groups = "[Group]\r\n1=Cap{n},A.TXT\r\n2=..,A.TXT\r\n3=*,A.TXT\r\n4=Sub\\..\\..,A.TXT\r\n";
    for (const char *title : {"*", "..", "?*", "Rob{n}\\..", ".", "Rob{n}\\*"}) {
        cases.push_back(
            Removing(std::string("old shell, Title ") + title, Head(title, "Rob{n}") + "1=A.TXT\r\n", ExpectAuto));
        cases.push_back(Removing(std::string("old shell, Title ") + title + " with groups",
                                 Head(title, "Rob{n}") + "1=A.TXT\r\n" + groups, ExpectAuto));
    }
    // A plain title would have the prefix's own Program Manager open a group
    // window: the commands for plain names are checked against a Program
    // Manager of the driver's own in the fault scenarios.
    for (const char *title : {"*"}) {
        Case c = Walking(std::string("old shell, walk, Title ") + title, Head(title, "Rob{n}") + "1=A.TXT\r\n" + groups,
                         "{dir}inst");
        c.startMenu = true;
        cases.push_back(c);
        c = Walking(std::string("old shell, resident walk, Title ") + title, Head(title, "Rob{n}") + "TSR=1\r\n1=A.TXT\r\n",
                    "{dir}inst");
        cases.push_back(c);
    }
    return cases;
}

namespace {

struct Random {
    std::mt19937 engine;
    explicit Random(unsigned seed) : engine(seed) {}
    int Below(int n) { return static_cast<int>(engine() % static_cast<unsigned>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }
    template <class T> const T &Pick(const std::vector<T> &items) { return items[Below(int(items.size()))]; }
};

const std::vector<std::string> &Titles()
{
    static const std::vector<std::string> titles = {
        "Rob{n}", "Rob{n}", "ロボ{n}", "ソ表{n}", "", "   ", "\"\"", "\"Rob{n}\"", "Rob\"{n}",
        Filled("Rob{n}", 99), Filled("Rob{n}", 100), Filled("ロボ{n}", 99, true), Filled("Rob{n}", 98) + "ソ",
        Filled("Rob{n}", 250), "Rob{n}" + std::string(Lead), "*", "..", "Rob{n}\\x", "Rob{n}.", "CON",
    };
    return titles;
}

const std::vector<std::string> &Folders()
{
    static const std::vector<std::string> folders = {
        "Rob{n}", "Rob{n}", "ロボ{n}", "ソ表{n}", "", " ", Filled("Rob{n}", 99), Filled("Rob{n}", 100),
        Filled("Rob{n}", 98) + "表", "Rob{n}" + std::string(Lead), "Rob{n}\\sub", "Rob{n}\\", "\\Rob{n}",
    };
    return folders;
}

const std::vector<std::string> &Tsrs()
{
    static const std::vector<std::string> tsrs = {"0", "1", "10", "1abc", "", "yes", "\x83", "0000000000001"};
    return tsrs;
}

const std::vector<std::string> &InstallValues()
{
    static const std::vector<std::string> values = {
        "A.TXT", "B.DAT", "ソ.TXT", "表.TXT", "SUB\\C.TXT", "MISSING.TXT", "A.TXT,SUB\\DIR\\A.TXT",
        "A.TXT,ソ\\表\\A.TXT", "B.DAT,表", "ソ.TXT,ソ", "A.TXT,", ",A.TXT", ",", "", "A.TXT,,", "A.TXT,a,b,c",
        "A.TXT,SUB\\", "A.TXT,\\ROOTLESS.TXT", "A.TXT," + Filled("L", 239), "A.TXT," + Filled("L", 240),
        Filled("S", 259), Filled("S", 300), "A.TXT,X" + std::string(Lead), "A" + std::string(Lead) + ",B",
        "A.TXT,*", "SUB,COPYDIR", "A.TXT,NUL", "表.TXT,SUB\\DIR\\表\\ソ\\DEEP.TXT",
    };
    return values;
}

const std::vector<std::string> &GroupValues()
{
    static const std::vector<std::string> values = {
        "Cap{n},A.TXT", "Cap{n},A.TXT,/a,/b", "ソ表{n},ソ.TXT", "NOCOMMA", ",A.TXT", ",", "Cap{n},",
        "..\\Up{n},A.TXT", "Sub\\Cap,A.TXT", Filled("C", 255) + ",A.TXT", "Cap{n}" + std::string(Lead) + ",A.TXT",
        "Cap{n},SUB\\DIR\\A.TXT,-x", "Cap\"{n},A.TXT", "Cap{n}," + Filled("T", 250),
    };
    return values;
}

const std::vector<std::string> &RegValues()
{
    static const std::vector<std::string> values = {
        "HKEY_CURRENT_USER\\Software\\RobPlay\\{n}", "HKEY_CURRENT_USER\\Software\\RobPlay\\{n}\\Sub",
        "HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\", "HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\",
        "HKEY_CLASSES_ROOT", "HKEY_CLASSES_ROOT\\", "hkey_current_user\\Software\\RobPlay\\{n}",
        "HKEY_CURRENT_USERS", "HKEY_CURRENT_USER\\\\Software", ",", "HKEY_CURRENT_USER\\Software\\RobPlay\\ソ表",
        "HKEY_CURRENT_USER\\Software\\RobPlay\\" + Filled("{n}", 240), "HKEY_CURRENT_USER" + std::string(Lead),
        "HKEY_CURRENT_USER\\Software\\RobSentinel\\..", "HKEY_CLASSES_ROOT\\RobPlay{n}",
    };
    return values;
}

const std::vector<std::string> &Typed()
{
    static const std::vector<std::string> typed = {
        "{dir}inst", "{dir}inst", "{dir}inst\\", "{dir}ソ表\\深い表", "{dir}inst ソ", "{dir}" + Filled("L", 243),
        "{dir}" + Filled("M", 244), "inst", "", "C:", "C:\\", "\\\\srv\\share\\x", "{dir}A.TXT\\sub", "S:\\rob{n}",
    };
    return typed;
}

// Numbered keys 1, 2, ... with now and then a gap, a key 01 or a key twice.
std::string Numbered(Random &random, const std::string &section, const std::vector<std::string> &values,
                     int most)
{
    std::string text = "[" + section + "]\r\n";
    int count = random.Below(most + 1);
    int key = 1;
    for (int i = 0; i < count; ++i) {
        std::string name = std::to_string(key);
        int twist = random.Below(20);
        if (twist == 0)
            name = "0" + name;
        else if (twist == 1)
            ++key;  // a gap
        else if (twist == 2)
            name = " " + name + " ";
        text += name + "=" + random.Pick(values) + Crlf;
        ++key;
    }
    return text;
}

std::string Damaged(Random &random, std::string text)
{
    switch (random.Below(8)) {
    case 0: {  // LF only
        std::string out;
        for (char ch : text)
            if (ch != '\r')
                out += ch;
        return out;
    }
    case 1:  // cut short anywhere
        return text.substr(0, random.Below(int(text.size()) + 1));
    case 2:  // a NUL byte somewhere
        text.insert(random.Below(int(text.size()) + 1), 1, '\0');
        return text;
    case 3: {  // random bytes flipped
        for (int i = 0; i < 4 && !text.empty(); ++i)
            text[random.Below(int(text.size()))] = static_cast<char>(random.Below(256));
        return text;
    }
    case 4:
        return "\xEF\xBB\xBF" + text;
    case 5: {  // every line twice
        return text + text;
    }
    case 6:  // a lone lead byte at the very end, without line end
        return text + Lead;
    default:
        return Utf16(text);
    }
}

}  // namespace

std::vector<Case> Generated(unsigned seed, int count, Mode mode)
{
    Random random(seed);
    std::vector<Case> cases;
    std::set<std::string> seen;
    while (int(cases.size()) < count) {
        std::string script = "[Install]\r\n";
        if (!random.Chance(6))
            script += "Title=" + random.Pick(Titles()) + Crlf;
        if (!random.Chance(6))
            script += "Folder=" + random.Pick(Folders()) + Crlf;
        if (random.Chance(40))
            script += "TSR=" + random.Pick(Tsrs()) + Crlf;
        std::string install = Numbered(random, "Install", InstallValues(), 5);
        script += install.substr(11);  // the same [Install] section, numbered keys after the head
        if (random.Chance(50))
            script += Numbered(random, "Group", GroupValues(), 4);
        if (mode == RunMode || random.Chance(20))
            script += Numbered(random, "Reg", RegValues(), 4);
        bool damaged = random.Chance(15);
        if (damaged)
            script = Damaged(random, script);

        Case c;
        if (mode == RunMode) {
            c = Removing("generated removal", script, ExpectAuto);
        } else {
            c = Scripted("generated", script, ExpectAuto);
            c.mode = mode;
            AddData(c);
            if (mode == RequestMode) {
                static const std::vector<std::string> tails = {"r", "R", "/r", "/R", "r x", "Rr"};
                c.tail = random.Pick(tails);
            } else {
                static const std::vector<std::string> tails = {"", "", "", "X", "//r", "-", "\"\""};
                c.tail = random.Pick(tails);
                // Walking the wizard needs a resident flag the generator knows of: TSR
                // lines are written as given, and a resident product makes a Startup
                // shortcut, so only scripts without TSR walk.
                if (!damaged && script.find("TSR=") == std::string::npos && random.Chance(35)) {
                    c.walk = true;
                    c.typed = random.Pick(Typed());
                    c.startMenu = random.Chance(30);
                    c.finish = random.Chance(50);
                }
            }
        }
        std::string key = std::to_string(mode) + c.tail + script + c.typed + (c.walk ? "w" : "");
        if (!seen.insert(key).second)
            continue;
        cases.push_back(c);
    }
    return cases;
}

}  // namespace malformed
