// The benchmark: SETUP.EXE's install and removal against bare loops doing the
// same file work, its growth with the number of entries, and its start-up
// against a minimal program. Prints figures and targets; a missed target is
// reported, not failed, since the machine's load moves every figure.
//   BENCHRUN [--rounds N] [--files N] [--file-size BYTES] [--growth N,N,...]
//            [--growth-rounds N] [--startup-runs N] [--skip install|growth|startup]
//            [--install-budget SECONDS] [--growth-budget SECONDS] [--nsis INSTALLER] [--bound DIST]
//   BENCHRUN [--files N] [--file-size BYTES] --nsis-script HOST_INSTALLER_PATH
//            makes the install product and the NSIS script for it, and ends
//   BENCHRUN [--files N] [--file-size BYTES] [--nsis INSTALLER] [--bound DIST] --traced-runs
//            installs the product made before once with each installer, for
//            a wineserver that traces its requests (see tests/bench/server_requests.py)
// --keep-products leaves the products in place at the end, for the traced runs.
// Rounds beyond the first few are run only while the section's time budget
// lasts, so that the whole command stays near ten minutes on a loaded machine.
//   BENCHRUN --check    checks the arithmetic of the figures and ends
#include "driver.h"
#include "product.h"
#include "scenarios.h"
#include "stats.h"
#include "timing.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace bench;

namespace {

// Targets the lead set for this program.
// The specified calls set a floor under the ratios to the bare loops: every
// entry is read with GetPrivateProfileStringA, every step is a posted message
// that moves the bar, and every file is looked up before it is deleted.
const double InstallRatioTarget = 1.25;
const double RemovalRatioTarget = 2.30;
const double GrowthExponentTarget = 1.10;
// What checking every copy against the package's digests may add.
const double BoundRatioTarget = 1.15;
// The install against the peer's installer of the same files, silent and
// with its progress page.
const double PeerSilentTarget = 1.25;
const double PeerPageTarget = 0.50;

struct Options {
    int rounds = 5;
    int files = 2000;
    DWORD fileSize = 64 * 1024;
    std::vector<int> growth = {100, 1000, 10000};
    int growthRounds = 3;
    int startupRuns = 5;
    double installBudgetMs = 200 * 1000.0;  // the install and removal rounds together
    double growthBudgetMs = 60 * 1000.0;    // each size of the growth figures
    bool install = true, growthSection = true, startup = true;
    std::string nsis;        // the peer's installer of the install product, when tools/bench.sh made one
    std::string nsisScript;  // --nsis-script: only write its script, naming this installer path (the host's)
    std::string bound;       // the install product bound to its SETUP.EXE by the package step, when made
    bool tracedRuns = false;
    bool keepProducts = false;
};

void Say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

// One line of the target summary; tools/bench.sh collects these lines.
void Target(const char *name, bool measured, double value, double limit, const char *unit)
{
    if (!measured)
        Say("TARGET %-40s %10s  (at most %.2f%s)  MISS, no figure\n", name, "-", limit, unit);
    else
        Say("TARGET %-40s %10.3f  (at most %.2f%s)  %s\n", name, value, limit, unit,
            value <= limit ? "PASS" : "MISS");
}

void SpreadLine(const char *label, const Spread &spread)
{
    if (spread.count == 0)
        Say("  %-26s %10s %10s %10s   no successful run\n", label, "-", "-", "-");
    else
        Say("  %-26s %10.1f %10.1f %10.1f   (%d runs)\n", label, spread.median, spread.min, spread.max,
            spread.count);
}

std::string Figure(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", ms);
    return text;
}

std::string Indented(const std::string &text)
{
    std::string out = "  ";
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r')
            continue;
        out += text[i];
        if (text[i] == '\n' && i + 1 < text.size())
            out += "  ";
    }
    return out;
}

// Whether another round fits: the first minimum rounds always run, later
// ones only if a round as long as the average so far ends within the budget.
bool AnotherRound(int done, int minimum, double started, double budgetMs)
{
    if (done < minimum)
        return true;
    double elapsed = NowMs() - started;
    return elapsed + elapsed / done <= budgetMs;
}

void Cleared(const Product &product)
{
    ClearInstallation(product);
    driver::SetWindowsVersion("win7");
}

void InstallAndRemoval(const Options &options)
{
    Say("\n== Install and removal: %d files of %lu bytes (%.1f MiB), shortcuts off\n", options.files,
        static_cast<unsigned long>(options.fileSize),
        options.files * static_cast<double>(options.fileSize) / (1024.0 * 1024.0));
    double made = NowMs();
    Product product = MakeProduct("install", "ベンチマーク製品", "BenchProduct", options.files, options.fileSize);
    Say("   distribution %s made in %.1f s; installs into %s\n", product.dist.c_str(), (NowMs() - made) / 1000,
        product.installDir.c_str());
    Say("   each round: SETUP.EXE install, SETUP.EXE /r removal, %sbare copy loop, bare delete loop\n",
        options.bound.empty() ? "" : "the bound SETUP.EXE's install, ");
    Say("   SETUP.EXE install: progress page shown + the %.0f ms first tick, to Finish enabled\n"
        "   SETUP.EXE removal: first file deleted (the first tick), to the outcome shown\n"
        "   bare loops: their own loop time, measured inside them\n",
        FirstTickMs);

    const bool peer = !options.nsis.empty() && driver::Exists(options.nsis);
    if (!options.nsis.empty() && !peer)
        Say("   no NSIS installer at %s: the peer is left out\n", options.nsis.c_str());
    if (peer)
        Say("   then the same files through an NSIS installer (makensis, no compression, no CRC check) and its\n"
            "   uninstaller, each timed from process start to end: silent (/S), and with its progress page\n");
    const std::string nsisDir = std::string(NsisInstallDir).substr(0, lstrlenA(NsisInstallDir) - 1);
    const std::string uninstaller = "\"" + std::string(NsisInstallDir) + "uninst.exe\" ";
    std::vector<double> nsisSilent, nsisPage, nsisUninstallSilent, nsisUninstallPage;
    // One NSIS run: installs (or, with removal, uninstalls in place) and
    // checks that the files came or went.
    auto peerRun = [&](const std::string &command, bool removal, std::vector<double> *figures, const char *name,
                       std::string *line) {
        std::string failure;
        if (!removal)
            driver::RemoveTree(nsisDir);
        double ms = TimePeerRun(command, 60000 + 20.0 * product.count, &failure);
        int bad = ms < 0 ? 0 : CountBadNsisFiles(product);
        if (ms >= 0 && (removal ? bad == -1 || bad == product.count : bad == 0)) {
            figures->push_back(ms);
            *line += std::string(", ") + name + " " + Figure(ms);
        } else {
            *line += std::string(", ") + name + " failed: " + (ms < 0 ? failure : std::string("files wrong"));
        }
        if (removal)
            driver::RemoveTree(nsisDir);
    };

    // The same product as the package step binds it, installed after the
    // unbound one in each round into the same place.
    Product bound = product;
    bound.dist = options.bound;
    const bool binding = !options.bound.empty() && driver::Exists(options.bound + "SETUP.EXE");
    if (!options.bound.empty() && !binding)
        Say("   no bound product at %s: its figures are left out\n", options.bound.c_str());
    std::vector<double> setupInstall, bareCopy, setupRemoval, bareDelete, installTick, removalTick, boundInstall;
    double started = NowMs();
    for (int round = 1; round <= options.rounds; ++round) {
        if (!AnotherRound(round - 1, 3, started, options.installBudgetMs)) {
            Say("   stopped after %d rounds: another would overrun the section's %.0f s\n", round - 1,
                options.installBudgetMs / 1000);
            break;
        }
        std::string line = "   round " + std::to_string(round) + ":";
        std::string failure;

        Cleared(product);
        Timed install = TimeSetupInstall(product);
        if (install.ok) {
            setupInstall.push_back(install.workMs);
            if (install.firstStepMs >= 0)
                installTick.push_back(install.firstStepMs);
            line += " install SETUP " + Figure(install.workMs);
            Timed removal = TimeSetupRemoval(product);
            if (removal.ok) {
                setupRemoval.push_back(removal.workMs);
                if (removal.firstStepMs >= 0)
                    removalTick.push_back(removal.firstStepMs);
            } else {
                Say("   round %d: SETUP.EXE removal failed: %s\n", round, removal.failure.c_str());
            }
            line += ", removal SETUP " + (removal.ok ? Figure(removal.workMs) : std::string("failed"));
        } else {
            Say("   round %d: SETUP.EXE install failed: %s\n", round, install.failure.c_str());
            line += " install SETUP failed";
        }
        if (binding) {
            Cleared(bound);
            Timed install = TimeSetupInstall(bound);
            if (install.ok)
                boundInstall.push_back(install.workMs);
            else
                Say("   round %d: bound SETUP.EXE install failed: %s\n", round, install.failure.c_str());
            line += ", bound install " + (install.ok ? Figure(install.workMs) : std::string("failed"));
        }

        Cleared(product);
        double copy = RunBareCopy(product, &failure);
        int bad = copy >= 0 ? CountBadInstalledFiles(product) : 0;
        if (copy >= 0 && bad == 0) {
            bareCopy.push_back(copy);
            line += "; bare copy " + Figure(copy);
            double remove = RunBareDelete(product, &failure);
            if (remove >= 0 && InstallationGone(product)) {
                bareDelete.push_back(remove);
                line += ", bare delete " + Figure(remove);
            } else {
                line += ", bare delete failed: " + (remove >= 0 ? std::string("files left") : failure);
            }
        } else {
            line += "; bare copy failed: " + (copy >= 0 ? std::to_string(bad) + " files missing or wrong" : failure);
        }
        if (peer) {
            line += "; NSIS";
            peerRun("\"" + options.nsis + "\" /S", false, &nsisSilent, "silent", &line);
            peerRun(uninstaller + "/S _?=" + nsisDir, true, &nsisUninstallSilent, "uninstall silent", &line);
            peerRun("\"" + options.nsis + "\"", false, &nsisPage, "page", &line);
            peerRun(uninstaller + "_?=" + nsisDir, true, &nsisUninstallPage, "uninstall page", &line);
        }
        Say("%s\n", line.c_str());
    }
    Cleared(product);

    Spread si = Summarize(setupInstall), bc = Summarize(bareCopy), sr = Summarize(setupRemoval),
           bd = Summarize(bareDelete);
    Say("\n  %-26s %10s %10s %10s\n", "install, ms", "median", "min", "max");
    SpreadLine("SETUP.EXE (beyond tick)", si);
    SpreadLine("bare CopyFileA loop", bc);
    SpreadLine("page shown to 1st step", Summarize(installTick));
    Spread bi = Summarize(boundInstall);
    if (binding)
        SpreadLine("SETUP.EXE bound, ditto", bi);
    Spread ns = Summarize(nsisSilent), np = Summarize(nsisPage), nus = Summarize(nsisUninstallSilent),
           nup = Summarize(nsisUninstallPage);
    if (peer) {
        SpreadLine("NSIS silent, start to end", ns);
        SpreadLine("NSIS with its page, ditto", np);
    }
    Say("  %-26s %10s %10s %10s\n", "removal, ms", "median", "min", "max");
    SpreadLine("SETUP.EXE (beyond tick)", sr);
    SpreadLine("bare DeleteFileA loop", bd);
    SpreadLine("dialog shown to 1st deletion", Summarize(removalTick));
    if (peer) {
        SpreadLine("NSIS uninstall silent", nus);
        SpreadLine("NSIS uninstall with page", nup);
    }
    bool installRatio = si.count > 0 && bc.count > 0 && bc.median > 0;
    bool removalRatio = sr.count > 0 && bd.count > 0 && bd.median > 0;
    double ir = installRatio ? si.median / bc.median : 0, rr = removalRatio ? sr.median / bd.median : 0;
    if (installRatio)
        Say("  install ratio of medians, SETUP.EXE / bare: %.3f (per file %.1f us against %.1f us)\n", ir,
            si.median * 1000 / (options.files + 2), bc.median * 1000 / (options.files + 2));
    if (removalRatio)
        Say("  removal ratio of medians, SETUP.EXE / bare: %.3f (per file %.1f us against %.1f us)\n", rr,
            sr.median * 1000 / (options.files + 2), bd.median * 1000 / (options.files + 2));
    if (peer) {
        // Ratios of medians; the NSIS figures include starting its process,
        // which SETUP.EXE's leave out (see the start-up section for its size).
        auto ratio = [](const char *what, const Spread &a, const Spread &b) {
            if (a.count > 0 && b.count > 0 && b.median > 0)
                Say("  %-58s %.3f\n", what, a.median / b.median);
        };
        Say("  ratios of medians\n");
        ratio("NSIS silent install / bare copy loop", ns, bc);
        ratio("NSIS install with its page / bare copy loop", np, bc);
        ratio("SETUP.EXE install / NSIS silent install", si, ns);
        ratio("SETUP.EXE install / NSIS install with its page", si, np);
        ratio("NSIS silent uninstall / bare delete loop", nus, bd);
        ratio("NSIS uninstall with its page / bare delete loop", nup, bd);
        ratio("SETUP.EXE removal / NSIS silent uninstall", sr, nus);
        ratio("SETUP.EXE removal / NSIS uninstall with its page", sr, nup);
    }
    Target("install time / bare copy loop", installRatio, ir, InstallRatioTarget, "");
    if (peer) {
        auto ratioOf = [](const Spread &a, const Spread &b) { return a.median / b.median; };
        bool silent = si.count > 0 && ns.count > 0 && ns.median > 0;
        bool page = si.count > 0 && np.count > 0 && np.median > 0;
        Target("install time / NSIS silent install", silent, silent ? ratioOf(si, ns) : 0, PeerSilentTarget, "");
        Target("install time / NSIS install with its page", page, page ? ratioOf(si, np) : 0, PeerPageTarget, "");
    }
    if (binding) {
        bool boundRatio = bi.count > 0 && si.count > 0 && si.median > 0;
        if (boundRatio)
            Say("  bound install / unbound install, ratio of medians: %.3f (%.1f ms against %.1f ms)\n",
                bi.median / si.median, bi.median, si.median);
        Target("bound install / unbound install", boundRatio, boundRatio ? bi.median / si.median : 0,
               BoundRatioTarget, "");
    }
    Target("removal time / bare delete loop", removalRatio, rr, RemovalRatioTarget, "");

    // What the bare loops leave out, call by call: setup reads each entry
    // from its script, steps once per posted message and moves its bar; the
    // removal looks each file up before deleting it.
    std::string calls;
    Say("\n  calls setup makes per entry besides the file work (%d calls each, on this distribution)\n",
        options.files);
    Say("  %-60s %6s %10s\n", "call", "calls", "us/call");
    if (RunBeside("BENCHCALLS.EXE", "\"" + product.dist.substr(0, product.dist.size() - 1) + "\" " +
                                        std::to_string(options.files), &calls))
        Say("%s", Indented(calls).c_str());
    else
        Say("  BENCHCALLS.EXE did not run to its end\n");
}

void Growth(const Options &options)
{
    Say("\n== Growth: file entries of 1 byte, up to %d rounds per size within %.0f s each,\n"
        "   SETUP.EXE install (timed as above) and bare copy alternating\n",
        options.growthRounds, options.growthBudgetMs / 1000);
    std::vector<double> entries, setupMedians, bareMedians;
    Say("  %8s %14s %14s %14s %14s %9s\n", "entries", "SETUP ms", "SETUP us/entry", "bare ms", "bare us/entry",
        "ratio");
    for (int count : options.growth) {
        double made = NowMs();
        Product product = MakeProduct("growth" + std::to_string(count), "ベンチマーク成長", "BenchGrowth", count, 1);
        made = NowMs() - made;
        std::vector<double> setup, bare;
        double started = NowMs();
        int rounds = 0;
        for (int round = 1;
             round <= options.growthRounds && AnotherRound(round - 1, 1, started, options.growthBudgetMs); ++round) {
            ++rounds;
            Cleared(product);
            Timed install = TimeSetupInstall(product);
            if (install.ok)
                setup.push_back(install.workMs);
            else
                Say("   %d entries, round %d: SETUP.EXE install failed: %s\n", count, round, install.failure.c_str());
            Cleared(product);
            std::string failure;
            double copy = RunBareCopy(product, &failure);
            if (copy >= 0 && CountBadInstalledFiles(product) == 0)
                bare.push_back(copy);
            else
                Say("   %d entries, round %d: bare copy failed: %s\n", count, round, failure.c_str());
        }
        Cleared(product);
        driver::RemoveTree(product.dist.substr(0, product.dist.size() - 1));
        Spread s = Summarize(setup), b = Summarize(bare);
        if (s.count > 0) {
            entries.push_back(count);
            setupMedians.push_back(s.median);
            bareMedians.push_back(b.count > 0 ? b.median : 0);
        }
        Say("  %8d %14.1f %14.1f %14.1f %14.1f %9.3f   (%d rounds; made in %.1f s)\n", count, s.median,
            s.count ? s.median * 1000 / count : 0, b.median, b.count ? b.median * 1000 / count : 0,
            b.count && s.count ? s.median / b.median : 0, rounds, made / 1000);
    }
    double exponent = 0, bareExponent = 0;
    bool fitted = FitExponent(entries, setupMedians, &exponent);
    bool bareFitted = FitExponent(entries, bareMedians, &bareExponent);
    if (fitted)
        Say("  fitted exponent, time ~ entries^k (least squares, log-log, medians): SETUP.EXE k = %.3f", exponent);
    if (bareFitted)
        Say(", bare copy loop k = %.3f", bareExponent);
    Say("\n");
    Target("growth exponent of the install time", fitted, exponent, GrowthExponentTarget, "");
}

void Startup(const Options &options)
{
    Say("\n== Start-up: process start to the first window shown, %d runs each, alternating\n", options.startupRuns);
    Product small = MakeProduct("startup", "ベンチマーク起動", "BenchStartup", 10, 1);
    Product large = MakeProduct("startup2000", "ベンチマーク起動", "BenchStartup", options.files, 1);
    std::vector<double> setupSmall, setupLarge, box;
    for (int run = 1; run <= options.startupRuns; ++run) {
        std::string failure;
        double t = TimeSetupStartup(small, &failure);
        if (t >= 0)
            setupSmall.push_back(t);
        else
            Say("   run %d: SETUP.EXE (10 entries) failed: %s\n", run, failure.c_str());
        t = TimeBoxStartup(&failure);
        if (t >= 0)
            box.push_back(t);
        else
            Say("   run %d: message box program failed: %s\n", run, failure.c_str());
        t = TimeSetupStartup(large, &failure);
        if (t >= 0)
            setupLarge.push_back(t);
        else
            Say("   run %d: SETUP.EXE (%d entries) failed: %s\n", run, options.files, failure.c_str());
    }
    driver::RemoveTree(small.dist.substr(0, small.dist.size() - 1));
    driver::RemoveTree(large.dist.substr(0, large.dist.size() - 1));
    Say("  %-26s %10s %10s %10s\n", "start-up, ms", "median", "min", "max");
    SpreadLine("SETUP.EXE, 10 entries", Summarize(setupSmall));
    std::string label = "SETUP.EXE, " + std::to_string(options.files) + " entries";
    SpreadLine(label.c_str(), Summarize(setupLarge));
    SpreadLine("message box program", Summarize(box));
    Spread s = Summarize(setupSmall), b = Summarize(box);
    if (s.count > 0 && b.count > 0)
        Say("  SETUP.EXE (10 entries) / message box program, medians: %.3f (%+.1f ms)\n", s.median / b.median,
            s.median - b.median);
}

// One install by each installer, one after the other, while the wineserver
// writes every request it answers to its trace. The trace, not the clock,
// gives the figures: each run names its process, and the watcher's own
// requests are told apart by its process id.
void TracedRuns(const Options &options)
{
    Product product = DescribeProduct("install", "ベンチマーク製品", "BenchProduct", options.files, options.fileSize);
    // One line per run: its process id, its name, a tab, and how it went.
    Say("FILES %d\nTRACED %04lx watcher\tok\n", options.files, GetCurrentProcessId());
    auto setup = [&](const Product &which, const char *name) {
        Cleared(which);
        Timed install = TimeSetupInstall(which);
        Say("TRACED %04lx %s\t%s\n", install.pid, name, install.ok ? "ok" : ("failed: " + install.failure).c_str());
    };
    setup(product, "SETUP.EXE");
    if (!options.bound.empty() && driver::Exists(options.bound + "SETUP.EXE")) {
        Product bound = product;
        bound.dist = options.bound;
        setup(bound, "SETUP.EXE bound");
    }
    Cleared(product);
    if (!options.nsis.empty() && driver::Exists(options.nsis)) {
        const std::string nsisDir = std::string(NsisInstallDir).substr(0, lstrlenA(NsisInstallDir) - 1);
        for (const char *page : {" /S", ""}) {
            driver::RemoveTree(nsisDir);
            std::string failure;
            DWORD pid = 0;
            double ms = TimePeerRun("\"" + options.nsis + "\"" + page, 60000 + 20.0 * product.count, &failure, &pid);
            if (ms >= 0 && CountBadNsisFiles(product) != 0)
                failure = "files wrong";
            Say("TRACED %04lx %s\t%s\n", pid, *page ? "NSIS silent" : "NSIS with its page",
                failure.empty() ? "ok" : ("failed: " + failure).c_str());
        }
        driver::RemoveTree(nsisDir);
    }
}

bool ParseCounts(const char *text, std::vector<int> *counts)
{
    counts->clear();
    for (const char *p = text; *p;) {
        char *end;
        long n = std::strtol(p, &end, 10);
        if (end == p || n < 1 || n > 99999)
            return false;
        counts->push_back(static_cast<int>(n));
        p = *end == ',' ? end + 1 : end;
        if (*end != ',' && *end != '\0')
            return false;
    }
    return !counts->empty();
}

bool ParseOptions(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--traced-runs" || option == "--keep-products") {
            (option == "--traced-runs" ? options->tracedRuns : options->keepProducts) = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const char *value = argv[++i];
        int number = std::atoi(value);
        if (option == "--rounds" && number >= 1)
            options->rounds = number;
        else if (option == "--files" && number >= 1 && number <= 99999)
            options->files = number;
        else if (option == "--file-size" && number >= 1)
            options->fileSize = static_cast<DWORD>(number);
        else if (option == "--growth" && ParseCounts(value, &options->growth))
            continue;
        else if (option == "--growth-rounds" && number >= 1)
            options->growthRounds = number;
        else if (option == "--startup-runs" && number >= 1)
            options->startupRuns = number;
        else if (option == "--install-budget" && number >= 1)
            options->installBudgetMs = number * 1000.0;
        else if (option == "--growth-budget" && number >= 1)
            options->growthBudgetMs = number * 1000.0;
        else if (option == "--skip" && std::strcmp(value, "install") == 0)
            options->install = false;
        else if (option == "--skip" && std::strcmp(value, "growth") == 0)
            options->growthSection = false;
        else if (option == "--skip" && std::strcmp(value, "startup") == 0)
            options->startup = false;
        else if (option == "--nsis")
            options->nsis = value;
        else if (option == "--nsis-script")
            options->nsisScript = value;
        else if (option == "--bound")
            options->bound = value;
        else
            return false;
    }
    return true;
}

const char *WineVersion()
{
    typedef const char *(*Version)();
    Version version = reinterpret_cast<Version>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    return version != nullptr ? version() : "not Wine";
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--check") == 0)
        return CheckStats() ? 0 : 1;
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        Say("usage: BENCHRUN [--rounds N] [--files N] [--file-size BYTES] [--growth N,N,...] [--growth-rounds N]\n"
            "                [--startup-runs N] [--skip install|growth|startup] [--install-budget SECONDS]\n"
            "                [--growth-budget SECONDS] [--nsis INSTALLER] [--bound DIST] [--keep-products]\n"
            "                [--traced-runs]   |   BENCHRUN --check\n");
        return 2;
    }
    if (!options.nsisScript.empty()) {
        // The install product, and beside it the peer's script for makensis.
        Product product = MakeProduct("install", "ベンチマーク製品", "BenchProduct", options.files, options.fileSize);
        WriteNsisScript(product, options.nsisScript);
        Say("%s%s\n", product.dist.c_str(), NsisScriptName);
        return 0;
    }
    if (options.tracedRuns) {
        driver::SetWindowsVersion("win7");
        TracedRuns(options);
        return 0;
    }
    Say("Wine %s; times on the performance counter, windows watched every 2 ms from another process\n",
        WineVersion());
    driver::SetWindowsVersion("win7");
    double start = NowMs();
    if (options.install)
        InstallAndRemoval(options);
    if (options.growthSection)
        Growth(options);
    if (options.startup)
        Startup(options);
    if (!options.keepProducts)
        driver::RemoveTree("C:\\bench");
    Say("\nmeasured in %.1f s\n", (NowMs() - start) / 1000);
    return 0;
}
