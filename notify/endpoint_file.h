// While Voxmere runs, a small JSON file in the user's roaming folder names the
// port its WebSocket listens on, so the plugin opens a socket only when a
// Voxmere is there to answer, and finds one that had to take another port.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class EndpointFile {
 public:
  EndpointFile(std::wstring path, std::string version);
  // Removes the file when this process wrote it.
  ~EndpointFile();
  EndpointFile(const EndpointFile&) = delete;
  EndpointFile& operator=(const EndpointFile&) = delete;

  // The listener's port, again and again while it listens, or 0 when it
  // stopped. With several Voxmere processes the first that published keeps
  // the file; a later one leaves a file naming a Voxmere that still runs
  // alone (and says so once), and takes the file over once that one has
  // ended. A file removed or changed by hand is written again.
  void Publish(uint16_t port);
  const std::wstring& Path() const { return path; }

 private:
  bool Write(uint16_t port);
  void Withdraw();
  // The pid the file names when that process still runs this program; 0 else.
  DWORD LiveOtherOwner() const;
  bool NamesThisProcess(uint16_t port) const;

  const std::wstring path;
  const std::string version;
  const DWORD pid;
  bool owned = false;
  DWORD leftTo = 0;  // the other Voxmere last told of
};

// <roaming>\Voxmere\endpoint.json; empty when the roaming folder is.
std::wstring EndpointFilePathIn(const std::wstring& roamingFolder);
