// The program file's version information, read from its own version resource.
#ifndef KORVALE_APP_VERSION_INFO_H
#define KORVALE_APP_VERSION_INFO_H

#include <string>

// A string value of the first translation ("ProductName", "FileVersion"...); empty if none.
std::string VersionString(const std::string& fileName, const std::string& key);
// The version message: product name and description on one line, then "Version" and the
// file version: "Korvale2 軽い画像ビューワー\r\nバージョン 2.0.2.5".
std::string VersionMessage(const std::string& fileName);

#endif
