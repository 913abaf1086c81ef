#pragma once
// Standard folders. The user's folders follow the XDG base directories: Application Support is
// $XDG_DATA_HOME (~/.local/share), Caches is $XDG_CACHE_HOME (~/.cache), the preferences live in
// $XDG_CONFIG_HOME (~/.config), and Movies, Documents, Downloads, Desktop, Music and Pictures
// are the XDG user folders of $XDG_CONFIG_HOME/user-dirs.dirs (~/Videos, ~/Documents, ...).
// Variables that are unset, empty or not absolute are ignored, as the XDG rules say.
// Everything is read from the environment at each call, so a test sandbox can redirect it.
#include <string>
#include <vector>

namespace ns {

enum SearchPathDirectory : unsigned {
  ApplicationDirectory = 1,
  LibraryDirectory = 5,
  UserDirectory = 7,
  DocumentDirectory = 9,
  DesktopDirectory = 12,
  CachesDirectory = 13,
  ApplicationSupportDirectory = 14,
  DownloadsDirectory = 15,
  MoviesDirectory = 17,
  MusicDirectory = 18,
  PicturesDirectory = 19,
  ItemReplacementDirectory = 99,
};

enum SearchPathDomainMask : unsigned {
  UserDomainMask = 1,
  LocalDomainMask = 2,
  NetworkDomainMask = 4,
  SystemDomainMask = 8,
  AllDomainsMask = 0x0ffff,
};

// The folders of `directory` in the given domains, user domain first. With expandTilde false
// a path inside the home folder starts with "~". Folders need not exist.
std::vector<std::string> SearchPathForDirectoriesInDomains(SearchPathDirectory directory, unsigned domainMask,
                                                           bool expandTilde);

// The one user-domain folder of `directory` (expanded), or "" when it has none.
std::string userDirectory(SearchPathDirectory directory);

// $HOME, or the password database's entry when it is unset.
std::string HomeDirectory();
// $TMPDIR when it is an absolute path, else "/tmp/"; always ends in "/".
std::string TemporaryDirectory();
std::string UserName();
std::string FullUserName();
// $XDG_CONFIG_HOME or ~/.config: where the user defaults are kept.
std::string userConfigDirectory();

}  // namespace ns
