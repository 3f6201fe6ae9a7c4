#pragma once

// A management-instrumentation provider driven by a script: the objects of each
// class, and where a call fails. It logs every connection and query and counts
// the objects it has handed out and not yet got back.

#include "drives/Wmi.h"

#include <QString>

#include <map>
#include <memory>
#include <set>
#include <vector>

namespace valmora::test {

struct WmiScript
{
    std::map<QString, drives::TWmiInstances> classes; // by class name
    std::set<int> failLocator;                     // ordinals (0-based) of CreateLocator calls that fail
    std::set<int> failConnect;                     // ordinals of ConnectServer calls that fail
    std::set<QString> failQuery;                   // classes whose query fails
    std::map<QString, int> failNext;               // class -> the Next call (0-based) that fails

    struct Connection
    {
        QString server, nameSpace, user, password;
    };
    std::vector<Connection> connections;
    struct Query
    {
        QString text, language;
        int flags;
    };
    std::vector<Query> queries;
    int live = 0; // locators, services, sets, enumerators and objects not yet released
    int locators = 0;
};

class ScriptedProvider final : public drives::TWmiProvider
{
public:
    explicit ScriptedProvider(WmiScript &script)
        : m_script(script)
    {
    }
    std::unique_ptr<drives::TWmiLocator> CreateLocator() override;

private:
    WmiScript &m_script;
};

} // namespace valmora::test
