// Upgrade package: a zip archive holding the recorder's installer script (Install.lua) and a
// cramfs image of the chosen web pages (web.cramfs) or logo bitmaps (logo.cramfs).
//
// The builder works through temporary files named as the recorder expects them, in a private
// directory made with mkdtemp under a temporary root ($TMPDIR, else /tmp, unless the caller names
// one) and removed before the builder returns. Its messages go to standard output, as those of a
// command-line tool; the results below say what happened.
//
// For the upgrade session:
//
//     std::string strPackage;
//     BuildUpgradePackage(m_nFileCount, m_strFiles, "C:\\tmp_web.bin", strPackage);
//     // strPackage: /tmp/kestrion-package.XXXXXX/tmp_web.bin, or empty when the build failed
//     ... send strPackage ...
//     RemoveUpgradePackage(strPackage); // when the upgrade ends, whatever its outcome
//
// The package is the only file of its private directory; RemoveUpgradePackage deletes the file
// and then that directory. Deleting only the file would leave the directory behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Results of BuildUpgradePackage, BuildUpgradePackageAt and ZipFiles. Other negative values are
// minizip's own error codes (ZIP_ERRNO -1, ZIP_PARAMERROR -102, ZIP_BADZIPFILE -103).
inline constexpr int kPackageOk = 0;
// Nothing to zip: unknown package type, no files, the image writer failed, the image does not
// fit its flash partition, the script or the private directory could not be written.
inline constexpr int kPackageFailed = -1;
inline constexpr int kZipNoMemory = -104; // the copy buffer could not be allocated

inline constexpr std::size_t kMaxPackageFiles = 10; // further paths are ignored
inline constexpr char kInstallScriptName[] = "Install.lua";
inline constexpr char kWebImageName[] = "web.cramfs";
inline constexpr char kLogoImageName[] = "logo.cramfs";
inline constexpr std::size_t kInstallScriptSize = 1938;

// The flash partitions the installer script writes the images into. It writes sector by sector
// up to the partition's end and drops what does not fit, so a larger image is refused here.
inline constexpr std::uint32_t kLogoPartitionSize = 0x80800000u - 0x807C0000u;
inline constexpr std::uint32_t kWebPartitionSize = 0x80780000u - 0x80630000u;

// Writes the 1938-byte installer script to strDir/Install.lua. Sets strOutput to that path and
// returns 0; on failure prints "fopen %s fail" with the path, leaves strOutput empty, removes
// any partial file and returns -1.
int WriteInstallScript(std::string& strOutput, const std::string& strDir);

// The zip step: argv[0] the program word, argv[1] the archive (replaced if it exists), argv[2]
// onward the files to add, each as an entry named by its base name (deflate at zlib's default
// level, DOS time 0 and date 0x0020, no extra fields, no comments). Words beginning with '-' are
// skipped. Returns 0 when every entry was written and the archive closed; otherwise the error of
// the step that failed (kZipNoMemory, or a minizip error) after its message. Stops at the first
// failed entry; the archive is still closed but must not be used.
int ZipFiles(int argc, const char* const argv[]);

// Builds the package of the first nFileCount files (at most kMaxPackageFiles) into a fresh
// private directory under strTempRoot (empty: $TMPDIR, else /tmp). strPackagePath names the
// package as the window knows it ("C:\tmp_web.bin", "C:\temp_logo.bin", "tmp_web.bin"): its
// text decides the type (containing "logo": logo package; else containing "web": web package;
// else unknown) and its base name is the package's file name. On success returns 0 and sets
// strBuiltPath to the package; the caller removes it with RemoveUpgradePackage. On failure
// leaves nothing behind, sets strBuiltPath empty and returns the failure (see the results above).
int BuildUpgradePackage(int nFileCount, const std::string pstrFiles[], const std::string& strPackagePath,
                        std::string& strBuiltPath, const std::string& strTempRoot = {});

// As BuildUpgradePackage, but writes the package at exactly strPackagePath. A file already
// there is removed first, so a failed build never leaves an old package to be sent; on failure
// no file is left at the path. Only the temporary files go under strTempRoot.
int BuildUpgradePackageAt(int nFileCount, const std::string pstrFiles[], const std::string& strPackagePath,
                          const std::string& strTempRoot = {});

// Deletes a package made by BuildUpgradePackage and its private directory. Returns 0 when both
// are gone (also when they were already gone), -1 with errno otherwise. Any other path is only
// deleted; its directory is left alone.
int RemoveUpgradePackage(const std::string& strBuiltPath);
