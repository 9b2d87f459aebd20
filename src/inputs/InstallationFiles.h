#pragma once

// The installation's files: the Config folder beside the program, Config.ini with the company
// page's address and Company.ini with the company's identity. Their names, the identity's
// fields, the launcher's reading and the tool's writing live here side by side, so that the
// writer is held to the reader it must satisfy. Callers never spell a name themselves: a new
// field is one more row of kFields (and its member in TCompanyIdentity).

#include <cstddef>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage.h"
#include "inputs/CompanyIdentity.h"
#include "inputs/ConfigFolder.h"

inline constexpr std::string_view kConfigFolderName = "Config";
// The configuration tool's lock file in it, there only while a writer holds it.
inline constexpr std::string_view kWriterLockName = ".companymain-config.lock";

// Config.ini: the address, base64 of its bytes in the ANSI code page.
inline constexpr std::string_view kAddressFileName = "Config.ini";
inline constexpr std::string_view kAddressSection = "SysInfo";
inline constexpr std::string_view kAddressKey = "CompanyURL";

// Company.ini: the identity, one key per field.
inline constexpr std::string_view kIdentityFileName = "Company.ini";
inline constexpr std::string_view kIdentitySection = "Company";

// Marks an English text for the message catalog (xgettext's keyword); it is translated where it
// is shown.
constexpr const char* N_(const char* english) { return english; }

// The seven values of an installation, in the windows' order: the page address, then the
// identity's fields. Every spelling of a value (show's and the JSON's name, the option, the key,
// the MSI's property, the windows' words) comes from its row.
struct TField {
  std::string_view name;      // show's name, the JSON's and debconf's
  std::string_view option;    // set-company's option; "" for the address (set-address's operand)
  std::string_view file;      // in the Config folder
  std::string_view section;
  std::string_view key;
  std::string_view property;  // the MSI's property, and the registry value it hands over
  const char* title;          // how messages name it (English, N_)
  const char* label;          // the window's label (English, N_)
  bool required;              // the web system cannot tell the company without it
  std::string TCompanyIdentity::*member;  // nullptr for the address
};
inline constexpr TField kFields[] = {
    {"url", "", kAddressFileName, kAddressSection, kAddressKey, "URL", N_("Page address"),
     N_("Page address (http/https)"), true, nullptr},
    {"number", "--number", kIdentityFileName, kIdentitySection, "CompanyNum", "COMPANYNUM",
     N_("Company number"), N_("Company number"), true, &TCompanyIdentity::CompanyNum},
    {"type", "--type", kIdentityFileName, kIdentitySection, "CompanyType", "COMPANYTYPE",
     N_("Type code"), N_("Type code (e.g. R01)"), true, &TCompanyIdentity::CompanyType},
    {"name", "--name", kIdentityFileName, kIdentitySection, "CompanyName", "COMPANYNAME",
     N_("Company name"), N_("Company name"), false, &TCompanyIdentity::CompanyName},
    {"device-id", "--device-id", kIdentityFileName, kIdentitySection, "DeviceId", "DEVICEID",
     N_("Device ID"), N_("Device ID"), true, &TCompanyIdentity::DeviceId},
    {"upload-user", "--upload-user", kIdentityFileName, kIdentitySection, "UploadUser",
     "UPLOADUSER", N_("Upload user"), N_("Upload user (optional)"), false,
     &TCompanyIdentity::UploadUser},
    {"other", "--other", kIdentityFileName, kIdentitySection, "OtherInfo", "OTHERINFO",
     N_("Other information"), N_("Other information (optional)"), false,
     &TCompanyIdentity::OtherInfo},
};
inline constexpr std::size_t kFieldCount = std::size(kFields);
inline constexpr const TField& kAddressField = kFields[0];
// Company.ini's fields: the rows after the address.
inline constexpr std::span<const TField> kIdentityFields(kFields + 1, kFieldCount - 1);
inline constexpr std::size_t kIdentityFieldCount = kIdentityFields.size();
// The row of show's name; nullptr for none.
constexpr const TField* FieldNamed(std::string_view name) {
  for (const TField& field : kFields)
    if (field.name == name) return &field;
  return nullptr;
}

std::vector<std::string> IdentityKeys();
std::vector<std::string> AddressKeys();

// ---- The web-address rule

// Only a web address may be handed to the browser: "open" on anything else would run a
// program or open a file named in the configuration. ASCII case does not matter.
bool IsWebAddress(std::string_view address);
// The value Config.ini holds for the address (its bytes in the ANSI code page): base64 on one
// line. The launcher reads no more than kIniValueMax bytes of it.
std::string AddressValue(std::string_view ansiAddress);

// ---- Reading, as the launcher reads (values in the ANSI code page)

// The identity; nullopt when Company.ini is missing, cannot be read, or holds no [Company]
// section (an empty identity would open somebody else's page). Blank values are values.
std::optional<TCompanyIdentity> ReadIdentity(TConfigFolder& folder, const TCodePage& codePage);
// The address, decoded; nullopt when Config.ini is not there. A value that cannot be read is
// an empty one.
std::optional<std::string> ReadAddress(TConfigFolder& folder, const TCodePage& codePage);

// ---- Reading and changing, as the configuration tool does

// The values a file holds, each as Unicode text (UTF-8) where it can be: a Unicode file's
// values as they are, an ANSI file's as the launcher decodes them; nullopt for a value whose
// bytes are no text in the code page. For a change, the file's bytes too.
struct TStoredValues {
  TFileRead read;
  std::vector<std::optional<std::string>> text;  // one per key, when read.SectionFound()
  std::string bytes;                             // StoredOfFile: the whole file, when read
};
TStoredValues ReadStored(TConfigFolder& folder, const std::string& path, std::string_view section,
                         const std::vector<std::string>& keys, const TCodePage& codePage);

// The largest file the tool changes: far above any the launcher's files hold, and small
// enough to be read whole.
inline constexpr std::size_t kChangeableFileMax = 64u << 20;
// The same for a change, of the whole file as it was read once (TConfigFolder::ReadWhole), its
// values taken from those bytes by the reader's rules, so that the change is made on what was
// read.
TStoredValues StoredOfFile(TFileBytes file, std::string_view section,
                           const std::vector<std::string>& keys, const TCodePage& codePage);
// The same of a file's bytes.
TStoredValues StoredOfBytes(std::string bytes, std::string_view section,
                            const std::vector<std::string>& keys, const TCodePage& codePage);

// A file's new bytes: the stored file with some of its section's values changed in place (see
// IniSetValues), every other byte as it was, the byte order mark and the encoding kept. Each
// new value (UTF-8) is encoded as the launcher decodes the file: in the code page for a file
// without a mark. A value that encoding cannot hold is named in unencodable, and the bytes
// are then not made. A file that is missing or empty is made new: Company.ini in UTF-16 LE
// with its mark (it reads the same in every code page), Config.ini in ASCII, with CR LF.
struct TKeyValue {
  std::string_view key;
  std::string utf8;
};
struct TFileChange {
  std::string bytes;
  std::vector<std::string> unencodable;  // keys
};
TFileChange IdentityFileChange(const TStoredValues& stored, const std::vector<TKeyValue>& values,
                               const TCodePage& codePage);
// Config.ini with the address value (see AddressValue), which is ASCII in every encoding.
std::string AddressFileChange(const TStoredValues& stored, std::string_view value);

// ---- A change of both files, across a kill

// The record of a change of several files, beside them from before the first is replaced until
// the last one is: a run killed in between leaves it, and the next writer finishes the change.
inline constexpr std::string_view kPendingChangeName = ".companymain-config.pending";
struct TPendingFile {
  std::string_view name;                   // in the Config folder
  std::optional<std::string_view> before;  // the file's bytes before; nullopt: no file
  std::string_view after;
};
std::string PendingChangeBytes(const std::vector<TPendingFile>& files);
// The files of a record, viewing its bytes; nullopt when they are no whole record.
std::optional<std::vector<TPendingFile>> PendingChangeOf(std::string_view bytes);
