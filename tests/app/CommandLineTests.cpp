// The switches as the wizard reads them from its command line.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(CommandLine, SwitchesInEveryWrittenForm) {
    struct Case {
        const wchar_t* line;  // behind the program's name
        bool known, silent, launch, uninstall, help, log;
        const wchar_t* logPath;
        const wchar_t* badSwitch;
    } cases[] = {
        {L"", true, false, false, false, false, false, L"", L""},
        {L"/S", true, true, false, false, false, false, L"", L""},
        {L"-s", true, true, false, false, false, false, L"", L""},
        {L"/SILENT /verysilent -Quiet /QN", true, true, false, false, false, false, L"", L""},
        {L"/S /LAUNCH", true, true, true, false, false, false, L"", L""},
        {L"-uninstall /s", true, true, false, true, false, false, L"", L""},
        {L"/UNINSTALL", true, false, false, true, false, false, L"", L""},
        {L"/?", true, false, false, false, true, false, L"", L""},
        {L"-H", true, false, false, false, true, false, L"", L""},
        {L"/Help", true, false, false, false, true, false, L"", L""},
        {L"/LOG", true, false, false, false, false, true, L"", L""},
        {L"/log=C:\\logs\\qb.log /S", true, true, false, false, false, true, L"C:\\logs\\qb.log", L""},
        {L"\"/LOG=C:\\my logs\\qb.log\"", true, false, false, false, false, true, L"C:\\my logs\\qb.log", L""},
        {L"/LOG=\"C:\\my logs\\a=b.log\"", true, false, false, false, false, true, L"C:\\my logs\\a=b.log", L""},
        // Every argument not understood is refused: a word, a switch not known.
        {L"hello C:\\folder", false, false, false, false, false, false, L"", L"hello"},
        {L"\"\"", false, false, false, false, false, false, L"", L"\"\""},
        {L"/S /SILENTLY", false, true, false, false, false, false, L"", L"/SILENTLY"},
        {L"-x /y", false, false, false, false, false, false, L"", L"-x"},
        {L"/", false, false, false, false, false, false, L"", L"/"},
        {L"/LOGFILE=x", false, false, false, false, false, false, L"", L"/LOGFILE=x"},
        {L"/S=1", false, false, false, false, false, false, L"", L"/S=1"},
        // Refused, but still silent: a dash or slash that only looks like one, and a quote
        // after a backslash that made one argument of a log folder and the /S behind it.
        {L"\u2013S", false, true, false, false, false, false, L"", L"\u2013S"},
        {L"\uFF0FS /LOG", false, true, false, false, false, true, L"", L"\uFF0FS"},
        {L"\\S", false, true, false, false, false, false, L"", L"\\S"},
        {L"\u2014quiet", false, true, false, false, false, false, L"", L"\u2014quiet"},
        {L"\"/LOG=C:\\Logs\\\" /S", false, true, false, false, false, false, L"", L"/LOG=C:\\Logs\" /S"},
        {L"/LOG=C:\\Logs\\\" /S\"", false, true, false, false, false, false, L"", L"/LOG=C:\\Logs\""},
        {L"/LOG=a|b.log", false, false, false, false, false, false, L"", L"/LOG=a|b.log"},
        {L"\u2013X", false, false, false, false, false, false, L"", L"\u2013X"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(test::Utf8(c.line));
        const std::wstring commandLine = std::wstring(L"\"C:\\setup folder\\Quillbox.exe\" ") + c.line;
        WizardOptions options;
        EXPECT_EQ(ParseArguments(CommandLineArguments(commandLine.c_str()), options), c.known);
        EXPECT_EQ(options.silent, c.silent);
        EXPECT_EQ(options.launch, c.launch);
        EXPECT_EQ(options.uninstall, c.uninstall);
        EXPECT_EQ(options.help, c.help);
        EXPECT_EQ(options.log, c.log);
        EXPECT_EQ(options.logPath, c.logPath);
        EXPECT_EQ(options.badSwitch, c.badSwitch);
    }
}

}  // namespace
