#pragma once

// The subcommands of valmora-cli. Each lives in a file of its own and registers
// itself here, so adding a command touches no other file.

#include <QString>
#include <QStringList>

#include <vector>

namespace valmora::cli {

// Exit codes shared by every command.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFlagged = 1; // the command ran; what it found is not healthy
inline constexpr int ExitUsage = 2;   // bad arguments or unreadable input

struct CliCommand
{
    QString name;
    QString summary;
    // Receives the arguments after the command's name; prints its own help for --help.
    int (*run)(const QStringList &args);
};

std::vector<CliCommand> &Commands();

struct CliRegistration
{
    explicit CliRegistration(CliCommand command) { Commands().push_back(std::move(command)); }
};

// One line on stderr: "valmora-cli: <message>".
void PrintError(const QString &message);
// Writes text to stdout as UTF-8.
void Print(const QString &text);

} // namespace valmora::cli
