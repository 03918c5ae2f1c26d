// sellmeter-pe IMAGE [--base ADDRESS] [--json]
//
// Loads a 32-bit DLL file's bytes with the in-memory loader on this host and prints what the
// loader saw: whether mapping and loading succeeded, the reserved base and size, the
// relocation delta, every import in table order and every export with the addresses
// GetExport gives for it by name and by ordinal. Memory comes from the platform host; every
// import is supplied with a made-up address and the entry point answers 1, so an image loads
// whenever its own tables are sound. It is how a person checks an engine image before
// embedding it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "skin/mapped_image.h"
#include "skin/memory_module.h"
#include "skin/module_host.h"
#include "skin/pe_format.h"

namespace sellmeter {
namespace {

struct Import {
  std::string library;
  std::optional<std::string> name;
  std::uint16_t ordinal = 0;
};

// Platform memory; made-up libraries and symbols; every call answers 1. With a forced base the
// image's reservation goes there instead of its preferred base.
class InspectingHost final : public ModuleHost {
 public:
  explicit InspectingHost(std::optional<std::uint32_t> forcedBase) : forcedBase_(forcedBase) {}

  std::uint32_t VirtualAlloc(std::uint32_t address, std::uint32_t size, std::uint32_t type,
                             std::uint32_t protect) override {
    if (forcedBase_ && !imagePlaced_) {
      if (address != 0 && address != *forcedBase_) return 0;
      address = *forcedBase_;
      const std::uint32_t got = platform_.VirtualAlloc(address, size, type, protect);
      imagePlaced_ = got != 0;
      return got;
    }
    return platform_.VirtualAlloc(address, size, type, protect);
  }
  bool VirtualFree(std::uint32_t address, std::uint32_t size, std::uint32_t type) override {
    return platform_.VirtualFree(address, size, type);
  }
  std::span<std::uint8_t> ReservedBlock(std::uint32_t base) override {
    return platform_.ReservedBlock(base);
  }
  std::uint32_t LoadLibraryA(const char* name) override {
    libraries_.push_back(name);
    return static_cast<std::uint32_t>(libraries_.size()) << 16;
  }
  std::uint32_t GetProcAddress(std::uint32_t module, ProcKey key) override {
    Import import;
    const std::size_t index = (module >> 16) - 1;
    if (index < libraries_.size()) import.library = libraries_[index];
    if (key.name != nullptr) {
      import.name = key.name;
    } else {
      import.ordinal = key.ordinal;
    }
    imports.push_back(import);
    return 0xE0000000u + 0x10 * static_cast<std::uint32_t>(imports.size());
  }
  std::uint32_t CallAddress(std::uint32_t, const CallWords&) override { return 1; }

  // Lets the next image reservation go to the forced base again.
  void Rearm() { imagePlaced_ = false; }

  std::vector<Import> imports;

 private:
  ModuleHost& platform_ = PlatformModuleHost();
  std::optional<std::uint32_t> forcedBase_;
  bool imagePlaced_ = false;
  std::vector<std::string> libraries_;
};

struct Export {
  std::uint32_t ordinal;
  std::optional<std::string> name;
  std::uint32_t byOrdinal, byName;  // RVAs GetExport gives; 0 when it gives 0
};

// Every nonzero entry of the function table, named through the name pointer table.
std::vector<Export> ListExports(const MemoryModule& module, ModuleHost& host) {
  std::vector<Export> list;
  const std::uint32_t base = module.GetBase();
  const BlockView view(host.ReservedBlock(base));
  const std::uint8_t* dos = view.At(0, kDosHeaderSize);
  if (dos == nullptr) return list;
  const std::int32_t lfanew = DecodeDosHeader(dos).e_lfanew;
  const std::uint8_t* ntBytes = lfanew < 0 ? nullptr : view.At(static_cast<std::uint32_t>(lfanew), kNtHeadersSize);
  if (ntBytes == nullptr) return list;
  const IMAGE_DATA_DIRECTORY dirEntry = DecodeNtHeaders(ntBytes).OptionalHeader.DataDirectory[kDirectoryExport];
  if (dirEntry.Size == 0) return list;
  const std::uint8_t* dirBytes = view.At(dirEntry.VirtualAddress, kExportDirectorySize);
  if (dirBytes == nullptr) return list;
  const IMAGE_EXPORT_DIRECTORY dir = DecodeExportDirectory(dirBytes);
  std::map<std::uint32_t, std::string> names;
  for (std::uint64_t k = 0; k < dir.NumberOfNames; ++k) {
    const std::optional<std::uint32_t> nameRva = view.Read32(dir.AddressOfNames + 4 * k);
    const std::optional<std::uint16_t> index = view.Read16(dir.AddressOfNameOrdinals + 2 * k);
    if (!nameRva || !index) break;
    if (std::optional<std::string_view> name = view.CString(*nameRva)) {
      names.emplace(*index, std::string(*name));
    }
  }
  auto rvaOf = [base](std::uint32_t address) { return address == 0 ? 0 : address - base; };
  for (std::uint64_t i = 0; i < dir.NumberOfFunctions; ++i) {
    const std::optional<std::uint32_t> rva = view.Read32(dir.AddressOfFunctions + 4 * i);
    if (!rva) break;
    if (*rva == 0) continue;
    Export e{static_cast<std::uint32_t>(dir.Base + i), std::nullopt, 0, 0};
    if (auto it = names.find(static_cast<std::uint32_t>(i)); it != names.end()) e.name = it->second;
    e.byOrdinal = rvaOf(module.GetExport(std::to_string(static_cast<std::int32_t>(e.ordinal))));
    if (e.name) e.byName = rvaOf(module.GetExport(*e.name));
    list.push_back(e);
  }
  return list;
}

std::string JsonText(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

int Usage() {
  std::fprintf(stderr, "usage: sellmeter-pe IMAGE [--base ADDRESS] [--json]\n");
  return 2;
}

int Run(int argc, char** argv) {
  const char* path = nullptr;
  bool json = false;
  std::optional<std::uint32_t> forcedBase;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--base") == 0 && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long long value = std::strtoull(argv[++i], &end, 0);
      if (end == argv[i] || *end != 0 || value == 0 || value > 0xFFFFFFFFull) return Usage();
      forcedBase = static_cast<std::uint32_t>(value);
    } else if (argv[i][0] != '-' && path == nullptr) {
      path = argv[i];
    } else {
      return Usage();
    }
  }
  if (path == nullptr) return Usage();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "sellmeter-pe: cannot read %s\n", path);
    return 2;
  }
  const ByteArray bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  InspectingHost host(forcedBase);
  ScopedModuleHost scoped(host);
  // Mapping alone first, to show where and how large the block is even when binding fails.
  std::optional<MappedImage> mapped = MapImage(bytes);
  if (mapped) host.VirtualFree(mapped->base, 0, kMemRelease);
  host.Rearm();
  MemoryModule module;
  const bool loaded = module.LoadFromMemory(bytes);
  const std::vector<Export> exports = loaded ? ListExports(module, host) : std::vector<Export>{};
  const std::uint32_t base = mapped ? mapped->base : 0;
  const std::uint32_t size = mapped ? mapped->size : 0;
  const std::uint32_t delta = mapped ? base - mapped->ntHeaders.OptionalHeader.ImageBase : 0;

  if (json) {
    std::printf("{\"mapped\": %s, \"loaded\": %s, \"base\": %u, \"size\": %u, \"delta\": %u, \"imports\": [",
                mapped ? "true" : "false", loaded ? "true" : "false", base, size, delta);
    for (std::size_t i = 0; i < host.imports.size(); ++i) {
      const Import& im = host.imports[i];
      std::printf("%s{\"library\": %s, ", i ? ", " : "", JsonText(im.library).c_str());
      if (im.name) {
        std::printf("\"name\": %s}", JsonText(*im.name).c_str());
      } else {
        std::printf("\"ordinal\": %u}", static_cast<unsigned>(im.ordinal));
      }
    }
    std::printf("], \"exports\": [");
    for (std::size_t i = 0; i < exports.size(); ++i) {
      const Export& e = exports[i];
      std::printf("%s{\"ordinal\": %u, \"name\": %s, \"rva\": %u, \"nameRva\": %s}", i ? ", " : "",
                  e.ordinal, e.name ? JsonText(*e.name).c_str() : "null", e.byOrdinal,
                  e.name ? std::to_string(e.byName).c_str() : "null");
    }
    std::printf("]}\n");
  } else {
    std::printf("image:   %s (%zu bytes)\n", path, bytes.size());
    if (mapped) {
      std::printf("mapped:  yes, base 0x%08x, size 0x%x, relocation delta 0x%08x\n", base, size, delta);
    } else {
      std::printf("mapped:  no\n");
    }
    std::printf("loaded:  %s\n", loaded ? "yes" : "no");
    std::printf("imports: %zu\n", host.imports.size());
    for (const Import& im : host.imports) {
      if (im.name) {
        std::printf("  %-24s %s\n", im.library.c_str(), im.name->c_str());
      } else {
        std::printf("  %-24s #%u\n", im.library.c_str(), static_cast<unsigned>(im.ordinal));
      }
    }
    std::printf("exports: %zu\n", exports.size());
    for (const Export& e : exports) {
      std::printf("  %5u  %-32s by ordinal 0x%08x", e.ordinal, e.name ? e.name->c_str() : "(none)",
                  e.byOrdinal);
      if (e.name) std::printf("  by name 0x%08x", e.byName);
      std::printf("\n");
    }
  }
  return loaded ? 0 : 1;
}

}  // namespace
}  // namespace sellmeter

int main(int argc, char** argv) { return sellmeter::Run(argc, argv); }
