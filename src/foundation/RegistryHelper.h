#pragma once

#include <QFileDevice>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QLockFile;

namespace valmora {

enum class TRootKey {
    CurrentUser,  // HKEY_CURRENT_USER
    LocalMachine, // HKEY_LOCAL_MACHINE
};

// The registry as a typed store in files, one per root, in the text form of a
// registry export:
//
//   [HKEY_CURRENT_USER\Software\Quillmoor\VALMORA]
//   "Interval"=dword:0000012c
//   "User"="domain\\name"
//
// The user's file is $XDG_CONFIG_HOME/valmora/user.reg (default ~/.config), the
// machine's is $VALMORA_MACHINE_CONFIG/valmora/machine.reg (default /etc).
// Each open reads the file under a lock file shared by all processes; a write
// replaces the file atomically and keeps every other key and value. Lines a hand
// edit damaged are skipped; a value of a type other than dword or string keeps
// its text and reads as a wrong type.
//
// The user's file may hold the domain password, so it is readable by its owner
// only (0600): created so, kept so on every save, and narrowed when found wider.
// The machine's file stays readable by every user unless it holds a password.
class TRegistryStore
{
public:
    enum class Type { Dword, String, ExpandString, Other };
    struct Value
    {
        QString name;
        Type type = Type::Other;
        std::uint32_t dword = 0;
        QString text; // String and ExpandString
        QString raw;  // the data as it stood in the file, for Other
    };
    struct Key
    {
        QString path;
        std::vector<Value> values;
    };

    // Opens the store of a root (reads it when it exists).
    explicit TRegistryStore(TRootKey root);
    ~TRegistryStore();
    TRegistryStore(const TRegistryStore &) = delete;
    TRegistryStore &operator=(const TRegistryStore &) = delete;

    // How many times this process has written a store: a cache of values
    // read from the stores is current while the count and FileName stay.
    static unsigned WriteCount();
    static QString FileName(TRootKey root);
    // Keeps the current user's values in another file of the same form from
    // now on (a service's own settings); an empty name restores the default.
    static void SetUserFileName(const QString &fileName);
    static QString RootName(TRootKey root);

    Key *findKey(const QString &path);
    // Finds or adds the key; adding marks the store as changed.
    Key &openKey(const QString &path);
    static Value *findValue(Key &key, const QString &name);
    void setValue(Key &key, Value value);
    bool deleteValue(Key &key, const QString &name);

    bool changed() const { return m_changed; }
    // Writes the store when it changed; false when the file cannot be replaced.
    bool save();

    QString toText() const;
    void parse(const QString &text);

    // Values whose data is a password.
    static bool IsSecretValue(const QString &name);
    bool holdsSecret() const;
    // The mode the file must have, or nullopt when any mode will do.
    std::optional<QFileDevice::Permissions> requiredPermissions() const;

private:
    void narrowPermissions();

    TRootKey m_root;
    QString m_fileName;
    std::vector<Key> m_keys;
    bool m_changed = false;
    std::unique_ptr<QLockFile> m_lock;
};

// Single registry values, one call each: every call opens the store, opens or
// creates the key path, reads or writes, and releases the store.
class TRegistryHelper
{
public:
    // Raise ERegistryException "Invalid data type for '%s'" for a value of another type.
    static int ReadInteger(const QString &keyPath, const QString &name, TRootKey root, int defaultValue);
    static bool ReadBool(const QString &keyPath, const QString &name, TRootKey root, bool defaultValue);
    static QString ReadString(const QString &keyPath, const QString &name, TRootKey root,
                              const QString &defaultValue);
    // Raise ERegistryException "Failed to set data for '%s'" when the store cannot be written.
    static void WriteInteger(const QString &keyPath, const QString &name, TRootKey root, int value);
    static void WriteBool(const QString &keyPath, const QString &name, TRootKey root, bool value);
    static void WriteString(const QString &keyPath, const QString &name, TRootKey root, const QString &value);
    // True when the value existed and was deleted.
    static bool DeleteValue(const QString &keyPath, const QString &name, TRootKey root);
};

} // namespace valmora
