#pragma once

// Computer names as every layer handles them: sources keep network names
// ("\\" + host), checks, files and the window use the bare host name; names
// compare without regard to the case of ASCII letters.

#include <QCollator>
#include <QString>

namespace valmora {

// The name without its leading "\\"; a name without one is returned as it is.
QString BareComputerName(const QString &name);
// "\\" + the bare name.
QString NetworkComputerName(const QString &name);

// Lower- or upper-cases the ASCII letters only, as the sources store names.
QString AsciiLower(const QString &text);
QString AsciiUpper(const QString &text);

// The same computer: bare names equal but for the case of ASCII letters.
bool SameComputerName(const QString &left, const QString &right);

// The window list's order: ASCII letters without regard to case, other
// characters by their code. -1, 0 or +1.
int CompareComputerNames(const QString &left, const QString &right);

// A cycle's order: ASCII letters upper-cased, then compared in the user's
// locale (letters outside ASCII keep their case: é and É differ). A collator
// is not shared between threads.
class TComputerNameCollator
{
public:
    TComputerNameCollator();
    // -1, 0 or +1.
    int Compare(const QString &left, const QString &right) const;

private:
    QCollator m_collator;
};

} // namespace valmora
