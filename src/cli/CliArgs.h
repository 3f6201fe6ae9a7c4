#pragma once

// A small parser for the options of one command: boolean switches, options
// with a value ("--user U" or "--user=U") and positional arguments.

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace valmora::cli {

struct CliArgs
{
    QStringList positional;
    QSet<QString> switches;
    QMap<QString, QString> values;
    QString error; // set when the arguments do not fit

    bool has(const QString &name) const { return switches.contains(name); }
    QString value(const QString &name) const { return values.value(name); }
};

// switchNames and valueNames are given without the leading "--".
CliArgs ParseArgs(const QStringList &args, const QStringList &switchNames, const QStringList &valueNames);

} // namespace valmora::cli
