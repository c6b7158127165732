// Malformed scripts and command lines for the robustness suite: a list of
// hand-picked cases at every field limit and separator, and a seeded
// generator that combines damaged keys, values and files at random.
#pragma once

#include <string>
#include <vector>

namespace malformed {

enum Mode { InstallMode, RequestMode, RunMode };

// What the user must see first: the script message alone, the wizard, the
// removal confirmation or the removal dialog. Auto asks the profile reader
// whether the script at Case::oracle has a Title and a Folder.
enum Expect { ExpectAny, ExpectBroken, ExpectWizard, ExpectConfirm, ExpectRemoval, ExpectAuto };

// A file of the case's directory. Its path and bytes may hold {dir} (the
// case directory with its backslash) and {n} (the case number, three
// digits); the bytes "{exe}" stand for a copy of SETUP.EXE.
struct File {
    std::string path;
    std::string bytes;
};

struct Case {
    std::string label;
    Mode mode = InstallMode;
    std::string tail;               // command tail behind the quoted program path
    std::string exe = "SETUP.EXE";  // where the started copy lies, below the case directory
    std::vector<File> files;
    Expect expect = ExpectAuto;
    std::string oracle = "SETUP.INF";  // the script SETUP.EXE reads, for Auto and for the title
    bool walk = false;                 // through the wizard into `typed` rather than Cancel at once
    std::string typed;                 // destination typed on the first page
    bool startMenu = false;            // keep the Start-menu option when walking
    bool finish = false;               // Finish rather than Cancel once installed (entry 1 is no program)
    std::string must;                  // a kind of box that has to show ("fixed", "copy", "path" ...)
    std::string never;                 // a kind of box that must not show
};

// Expands {dir} and {n} for case number n in directory dir.
std::string Expand(const std::string &text, const std::string &dir, int n);

std::vector<Case> HandPickedScripts();
std::vector<Case> HandPickedCommandLines();
std::vector<Case> HandPickedWalks();
std::vector<Case> HandPickedRemovals();
std::vector<Case> HandPickedProgmanNames();
std::vector<Case> Generated(unsigned seed, int count, Mode mode);

// Byte strings for field limits: `length` bytes of text, made of ASCII
// after an optional prefix; with a lead byte as the last byte when `lead`.
std::string Filled(const std::string &prefix, size_t length, bool lead = false);

}  // namespace malformed
