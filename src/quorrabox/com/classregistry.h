// The class registry: keys with a default string value, the store that class registration and
// object creation by ProgID use. Each key is a directory under the registry's root, its value a file in it.
#pragma once

#include <optional>
#include <string>
#include <vector>

/// Keys are paths of names separated by backslashes ("CLSID\{...}\InprocServer32"), matched without
/// regard to ASCII letter case. Writing a value creates the key and its parents; deleting a key
/// deletes its value and refuses while the key has subkeys. Values are replaced atomically, so a
/// reader sees the old value or the new one, never part of one.
class TClassRegistry {
public:
    /// The registry at `rootDir` (created when the first key is written).
    explicit TClassRegistry(std::string rootDir);

    /// VKT_CLASS_REGISTRY when set, otherwise "vkt/classes" under the XDG data directory
    /// ($XDG_DATA_HOME, or ~/.local/share).
    static std::string DefaultRoot();

    /// The key's default value; empty optional when the key does not exist or has no value.
    std::optional<std::string> ReadValue(const std::string& key) const;
    /// Sets the key's default value, creating the key and its parents.
    /// Throws EArgumentError for an empty key name or name part, EInOutError when the store cannot be written.
    void WriteValue(const std::string& key, const std::string& value);
    /// Deletes the key with its value; false when it does not exist, has subkeys, or cannot be removed.
    bool DeleteKey(const std::string& key);
    bool KeyExists(const std::string& key) const;
    /// Names of the key's subkeys (the root's with an empty key), in no particular order.
    std::vector<std::string> SubKeys(const std::string& key) const;

    const std::string& RootDir() const { return m_root; }

private:
    std::optional<std::string> FindKeyDir(const std::string& key) const;
    std::string CreateKeyDir(const std::string& key);

    std::string m_root;
};

/// The registration helpers of an in-process server over the default registry: set a key's
/// default value (throws as WriteValue does), delete a key (failures ignored), read a key's value.
void CreateRegKey(const std::string& key, const std::string& value);
void DeleteRegKey(const std::string& key);
std::optional<std::string> GetRegStringValue(const std::string& key);
