// ClientDataFile: the surveillance client's data file (XML/Data.xml below the program's folder),
// held as one XML document for the life of the discovery window. It reads and changes only the
// organisations, the devices with their channels and the id counter; everything else in the file
// is carried through a load and a save in its order.
#pragma once

#include "clientstore/ClientRecords.h"
#include "clientstore/DataFileLock.h"
#include "clientstore/FileIdentity.h"
#include "xml/XmlParser.h"
#include "xml/XmlTree.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// The text fields of a device record that the file holds as written; the password is held
// enciphered and has no such limits.
enum class RecordText { Name, Host, UserName, DdnsHost };

// A text field of a record that the file cannot hold, and why.
struct UnstorableText {
    RecordText field;
    std::string_view why; // "holds a control character", ...
};

class ClientDataFile {
public:
    // The process-wide object, created and loaded from path() on first use.
    static ClientDataFile* instance();
    // Destroys the process-wide object without saving.
    static void release();
    // Path for the next object instance() creates (tests, the command line); empty restores the
    // default. Has no effect on an object that already exists.
    static void setPath(std::filesystem::path path);
    // Whether the next object instance() creates only reads the file (a listing): it then takes no
    // lock and refuses to save.
    static void setReadOnly(bool readOnly);
    // The folder of the running program followed by XML/Data.xml.
    static std::filesystem::path defaultPath();

    // Takes the data file's lock (unless `readOnly`) and loads the file at `path`. A missing or
    // empty file gives an empty document. A file that cannot be taken in whole (unreadable, cut
    // short, not XML, a zero byte in it, changed while read, in use by another program, a
    // dangling link) fails the load: loadError() says where and why, the document stays empty
    // (except when only the lock is missing) and save() refuses to touch the file.
    explicit ClientDataFile(std::filesystem::path path, bool readOnly = false);
    ClientDataFile(const ClientDataFile&) = delete;
    ClientDataFile& operator=(const ClientDataFile&) = delete;

    // Writes the whole document to the file, replacing it only when the new text is complete on
    // disk. False when nothing was replaced, with the cause in saveError(): the load failed, the
    // file was changed on disk since it was loaded, the folder is missing or not writable, a write
    // failed. A new file is readable by its owner only: it holds the devices' passwords.
    virtual bool save();
    // Id of the first device whose host and port are these, 0 when none.
    virtual std::uint32_t findDeviceByAddress(const char* host, std::uint32_t port);
    // Number of child nodes of DEVINFO (of any kind).
    virtual int deviceCount();
    // Id of the first device of this name, 0 when none.
    virtual std::uint32_t findDeviceByName(const char* name);
    // Fills one record per child of DEVINFO (a child that is not a DEV leaves its slot as it
    // was); `length` is the array's size in bytes. 0 when the array is null or too short.
    virtual int getDevices(DeviceRecord* records, int length);
    // Adds each record as a device with its channels and writes the new id into the record.
    // Stops with 0 at a record whose name is taken or whose texts cannot be stored, or when the
    // id counter would run past 2^31 - 1; records before it stay added.
    virtual int addDevices(DeviceRecord* records, int length);
    // Id of the first device whose host, DDNS host and DDNS port are these, 0 when none.
    virtual std::uint32_t findDeviceByDdns(const char* host, const char* ddnsHost, std::uint32_t ddnsPort);
    // Sets the camera type of video channels 0 .. count-1 of device `id` (low 8 bits of each
    // code; channels that do not exist are passed over). 0 when the device is not found.
    virtual int setCameraTypes(std::uint32_t id, const std::int32_t* codes, int count);
    // Number of child nodes of organisation `id` (0 = top level), 0 when no ORG has that id.
    virtual int orgChildCount(std::uint32_t id);
    // Lists the children of organisation `id`: for each child node i that is an ORG, entry i gets
    // its id and name; other entries are left as given. 0 when the array is null or too short.
    virtual int getOrgChildren(std::uint32_t id, OrgListEntry* entries, int length);
    virtual ~ClientDataFile();

    // The first element of this name below DATAROOT, created at the end of DATAROOT when missing.
    XmlNodeRef section(const char* name);
    // Hands out the next id from GLOBAL's counter (missing, empty or 0 counts as 1).
    std::uint32_t nextId();
    // The document node, for reading what the file holds beyond the store's own parts.
    XmlNodeRef document();
    const std::filesystem::path& path() const { return m_path; }
    // Why the load failed (where in the file, and what), or empty when it did not.
    const std::string& loadError() const { return m_loadError; }
    bool loadedWhole() const { return m_loadError.empty(); }
    // The cause of the last failed save, or empty.
    const std::string& saveError() const { return m_saveError; }

    // Why a text cannot be stored as an attribute value that reads back the same, or empty when
    // it can: a value is written without escaping and trimmed when read.
    static std::string_view whyNotStorable(std::string_view text);
    // The first text field of `record` that whyNotStorable refuses, in the order name, host,
    // user name, DDNS host; nullopt when the file can hold them all.
    static std::optional<UnstorableText> firstUnstorableText(const DeviceRecord& record);

private:
    void load(bool readOnly);
    std::filesystem::path lockTarget() const;
    std::string lockIfFolderExists(std::chrono::milliseconds wait);
    std::string readAndParse();
    std::string whyNotWhole(const char* text, std::size_t count, const FileIdentity& before) const;
    XmlNodeRef root();
    XmlNodeRef organisation(std::uint32_t id);
    void buildOrgIndex(XmlNodeRef orginfo);
    // Whether the record would be refused: its name is taken, a text cannot be stored, it has too
    // many channels, or the ids would run out.
    bool refusesDevice(XmlNodeRef devinfo, const DeviceRecord& record);
    // Adds one device and its channels; false when it is refused (before anything changes) or its
    // element cannot be made.
    bool addDevice(XmlNodeRef devinfo, DeviceRecord& record);

    std::filesystem::path m_path;
    XmlParser m_parser;
    XmlNodeRef m_root;
    std::map<std::string, XmlNodeRef, std::less<>> m_sections;
    std::map<std::string, XmlNodeRef, std::less<>> m_orgIndex;
    bool m_orgIndexBuilt = false;
    DataFileLock m_lock;
    FileIdentity m_loaded; // what the load saw; a save replaces only that file
    bool m_readOnly = false;
    std::string m_loadError;
    std::string m_saveError;
};
