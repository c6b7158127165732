// Shortcuts on the old shell: Program Manager groups and items, made by
// sending its execute commands over a DDE conversation. Everything here is
// fire-and-forget: setup goes on whatever Program Manager answers.
#include "script/state.h"

static const char StartupGroup[] = "スタートアップ";

HDDEDATA CALLBACK DdeClientCallback(UINT type, UINT, HCONV conversation, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                    ULONG_PTR)
{
    // Only the end of the current conversation stops the commands still to
    // come; a late notice about one already replaced must not.
    if (type == XTYP_DISCONNECT && conversation == State.ddeConversation)
        State.ddeConversation = nullptr;
    return nullptr;
}

UINT StartDdeClient()
{
    // The one client instance lives as long as the process. Initialising it
    // again with the same callback and flags would change nothing, and Wine
    // refuses it after freeing its work block twice.
    if (State.ddeInstance != 0)
        return DMLERR_NO_ERROR;
    return DdeInitializeA(&State.ddeInstance, DdeClientCallback, APPCMD_CLIENTONLY, 0);
}

int ConnectDdeServer(const char *service, const char *topic)
{
    // A conversation left open from an earlier call makes the platform
    // refuse a second one on the same service and topic, which would leave
    // the removal's later calls silent; it is ended before the new one.
    if (State.ddeConversation != nullptr) {
        HCONV previous = State.ddeConversation;
        State.ddeConversation = nullptr;
        DdeDisconnect(previous);
    }
    HSZ serviceName = DdeCreateStringHandleA(State.ddeInstance, service, 0);
    HSZ topicName = DdeCreateStringHandleA(State.ddeInstance, topic, 0);
    State.ddeConversation = DdeConnect(State.ddeInstance, serviceName, topicName, nullptr);
    if (serviceName != nullptr)
        DdeFreeStringHandle(State.ddeInstance, serviceName);
    if (topicName != nullptr)
        DdeFreeStringHandle(State.ddeInstance, topicName);
    return State.ddeConversation != nullptr;
}

int ExecuteDdeCommand(const char *command)
{
    if (State.ddeConversation == nullptr)
        return 0;
    HDDEDATA result = DdeClientTransaction(reinterpret_cast<BYTE *>(const_cast<char *>(command)),
                                           TextLength(command) + 1, State.ddeConversation, nullptr, CF_TEXT,
                                           XTYP_EXECUTE, 10000, nullptr);
    return result == reinterpret_cast<HDDEDATA>(1);
}

int ToShortCommand(char *text, int size)
{
    char *comma = FindCharMbcs(text, ',');
    if (comma != nullptr)
        *comma = '\0';
    char command[PATH_SIZE];
    DWORD length = GetShortPathNameA(text, command, PATH_SIZE);
    // A target that is not there yet has no short form; its long path still
    // names it.
    int fits = length != 0 && length < DWORD(PATH_SIZE) ? 1 : CopyText(command, PATH_SIZE, text);
    if (comma != nullptr) {
        fits = fits && AppendText(command, PATH_SIZE, " ") && AppendText(command, PATH_SIZE, comma + 1);
        *comma = ',';
    }
    return fits && CopyText(text, size, command);
}

// Sends [verb("first"[,"second"][,flag])]. The values are quoted in the
// command, so one holding a double quote would close its string early and
// make the rest of it commands of its own; such a command is not sent.
static void ExecuteProgmanCommand(const char *verb, const char *first, const char *second, const char *flag)
{
    char command[PATH_SIZE] = "[";
    if (FindCharMbcs(first, '"') != nullptr || (second != nullptr && FindCharMbcs(second, '"') != nullptr))
        return;
    int fits = AppendText(command, PATH_SIZE, verb) && AppendText(command, PATH_SIZE, "(\"") &&
               AppendText(command, PATH_SIZE, first) && AppendText(command, PATH_SIZE, "\"");
    if (second != nullptr)
        fits = fits && AppendText(command, PATH_SIZE, ",\"") && AppendText(command, PATH_SIZE, second) &&
               AppendText(command, PATH_SIZE, "\"");
    if (flag != nullptr)
        fits = fits && AppendText(command, PATH_SIZE, ",") && AppendText(command, PATH_SIZE, flag);
    // A cut command would name some other group or item.
    if (fits && AppendText(command, PATH_SIZE, ")]"))
        ExecuteDdeCommand(command);
}

// Adds the current entry to Program Manager's active group under this name.
static void AddCurrentItem(const char *name)
{
    if (!IsPlainName(name))
        return;
    // An entry refused as too long when it was loaded has no target to give.
    if (State.entryPath[0] == '\0' || !ToShortCommand(State.entryPath, PATH_SIZE))
        return;
    ExecuteProgmanCommand("AddItem", State.entryPath, name, nullptr);
}

void UpdateProgmanItems(int kind, int remove)
{
    // The shell that answers as Program Manager may keep each group as a
    // folder of the Start menu and delete a group with everything below it,
    // patterns expanded: a title "*" or ".." would take every other
    // product's group, or the Start menu itself, with it.
    if (!IsPlainName(State.title))
        return;
    StartDdeClient();
    ConnectDdeServer("PROGMAN", "PROGMAN");

    if (remove) {
        if (kind == Startup) {
            ExecuteProgmanCommand("ShowGroup", StartupGroup, nullptr, "1");
            ExecuteProgmanCommand("DeleteItem", State.title, nullptr, nullptr);
        } else {
            ExecuteProgmanCommand("DeleteGroup", State.title, nullptr, "0");
        }
        return;
    }

    int count;
    if (State.groupCount != 0) {
        LoadGroupEntry(1);
        count = State.groupCount;
    } else {
        LoadFileEntry(1);
        CopyText(State.entryName, PATH_SIZE, State.title);
        count = 2;  // the program and its removal
    }

    if (kind == Startup) {
        ExecuteProgmanCommand("ShowGroup", StartupGroup, nullptr, "1");
        AddCurrentItem(State.title);
        return;
    }

    ExecuteProgmanCommand("CreateGroup", State.title, nullptr, "0");
    AddCurrentItem(State.entryName);
    for (int n = 2; n <= count; ++n) {
        if (State.groupCount == 0) {
            LoadFileEntry(-1);
            if (State.entryPath[0] == '\0' || !AppendText(State.entryPath, PATH_SIZE, ",/r") ||
                !AppendText(State.entryName, PATH_SIZE, "の削除"))
                continue;
        } else {
            LoadGroupEntry(n);
        }
        AddCurrentItem(State.entryName);
    }
}
