#include "CliArgs.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {

CliArgs ParseArgs(const QStringList &args, const QStringList &switchNames, const QStringList &valueNames)
{
    CliArgs result;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == u"-h"_s) {
            result.switches.insert(u"help"_s);
            continue;
        }
        if (!arg.startsWith(u"--"_s) || arg == u"--"_s) {
            result.positional.append(arg);
            continue;
        }
        QString name = arg.mid(2);
        std::optional<QString> inlineValue;
        if (const qsizetype eq = name.indexOf(u'='); eq >= 0) {
            inlineValue = name.mid(eq + 1);
            name = name.left(eq);
        }
        if (switchNames.contains(name) || name == u"help"_s) {
            if (inlineValue) {
                result.error = u"option --%1 takes no value"_s.arg(name);
                return result;
            }
            result.switches.insert(name);
        } else if (valueNames.contains(name)) {
            if (inlineValue) {
                result.values.insert(name, *inlineValue);
            } else if (i + 1 < args.size()) {
                result.values.insert(name, args[++i]);
            } else {
                result.error = u"option --%1 needs a value"_s.arg(name);
                return result;
            }
        } else {
            result.error = u"unknown option \"%1\""_s.arg(arg);
            return result;
        }
    }
    return result;
}

} // namespace valmora::cli
