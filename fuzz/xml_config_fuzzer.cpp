// Configuration reading and the XML document store over arbitrary files.
// Input: first line = device address (also used as a stored text), next
// byte = port, the rest = the file.

#include <cstdint>
#include <cstring>
#include <string>

#include "device/configuration.h"
#include "scratch_file.h"
#include "xml/xml_settings_api.h"

using fuzzing::Check;
using fuzzing::WorkDirectory;
using fuzzing::WriteFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* newline = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
  const size_t lineLength = newline != nullptr ? static_cast<size_t>(newline - data) : 0;
  const size_t bodyStart = newline != nullptr ? lineLength + 1 : 0;
  const std::string line(reinterpret_cast<const char*>(data), lineLength);
  const uint16_t port = bodyStart < size ? data[bodyStart] : 80;
  const size_t xmlStart = bodyStart < size ? bodyStart + 1 : size;

  const std::string dir = WorkDirectory();
  WriteFile(dir + "Strandline.xml", data + xmlStart, size - xmlStart);
  unsetenv(orbisan::kConfigurationPathVariable);

  orbisan::DEVICE_INFO device;
  device.address = line;
  device.port = port;
  device.model = (port & 1) ? "ACTi KCM-3311" : "ACTi TCM-5311";
  const std::string path = orbisan::ConfigurationFilePath("Strandline", dir);

  const orbisan::ViewSettings view = orbisan::GetViewSettings(path, device);
  Check(view.streamMode <= 4 && (view.mountingType == 1 || view.mountingType == 2), "view settings range");
  Check(orbisan::GetFirstPTZChannelID(path, device) != 0, "first PTZ channel");
  orbisan::CConfiguration configuration("Strandline", dir, device);
  const orbisan::RtpSettings rtp = configuration.GetRtpSettings();
  Check(rtp.rtpMode == 0 || rtp.rtpMode == 2, "rtp mode");
  Check(rtp.rtpPacketSize == 0 || rtp.rtpPacketSize > 100, "packet size");
  Check((port & 1) == 0 || rtp.rtpMode == 0, "model rule");
  Check(configuration.GetStreamingMode() <= 2, "streaming mode");

  // The store: a text written under a fresh element must read back whole
  // after a save and a new load.
  orbisan::CXMLSettingsAPI store(dir);
  if (!store.LoadFile("Strandline.xml")) return 0;
  std::string root;
  {
    // The root's name is the first piece every path starts with; find it by
    // asking for candidates from the file's first start tag.
    const char* text = reinterpret_cast<const char*>(data + xmlStart);
    const size_t length = size - xmlStart;
    for (size_t i = 0; i + 1 < length && root.empty(); ++i) {
      if (text[i] != '<') continue;
      size_t end = i + 1;
      while (end < length && orbisan::IsXmlElementName(std::string(text + i + 1, end - i))) ++end;
      const std::string name(text + i + 1, end - i - 1);
      if (!name.empty() && store.NodeExists(name)) root = name;
    }
  }
  store.GetValue(line);
  store.NodeExists(line);
  store.DeleteNode(line);
  if (root.empty()) return 0;
  const std::string probe = root + "/FuzzProbe/Value";
  for (int i = 0; i < 64 && store.NodeExists(root + "/FuzzProbe"); ++i) store.DeleteNode(root + "/FuzzProbe");
  if (store.NodeExists(root + "/FuzzProbe")) return 0;
  const bool stored = store.SetValue(probe, line);
  Check(stored == (line.find('\0') == std::string::npos), "set value");
  if (!stored) return 0;
  Check(store.GetValue(probe) == line, "value before save");
  Check(store.Save(), "save");
  store.Close();
  orbisan::CXMLSettingsAPI reread(dir);
  Check(reread.LoadFile("Strandline.xml"), "reload");
  Check(reread.GetValue(probe) == line, "value after reload");
  return 0;
}
