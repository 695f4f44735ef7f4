// The export table of ostrel.dll, read from the file beside this program, against the
// operation table and the list of exported classes: every façade function, slot and default
// implementation, OstrelFunc::loadDefault, the OstrelExt functions and the classes, and no
// other name in the library's namespaces.
#include <windows.h>

#include <cxxabi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string besideThisProgram(const char* file) {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1) + file;
}

// The exported names of a PE32+ image, read from the file (the loader is not involved).
std::vector<std::string> exportedNames(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto at = [&](std::size_t offset, std::size_t size) -> const char* {
    if (offset + size > image.size()) throw std::runtime_error("truncated image");
    return image.data() + offset;
  };
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, at(0, sizeof dos), sizeof dos);
  IMAGE_NT_HEADERS64 nt;
  std::memcpy(&nt, at(dos.e_lfanew, sizeof nt), sizeof nt);
  if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
    throw std::runtime_error("not a PE32+ image");
  std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
  const std::size_t sectionTable = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                   nt.FileHeader.SizeOfOptionalHeader;
  std::memcpy(sections.data(), at(sectionTable, sections.size() * sizeof(IMAGE_SECTION_HEADER)),
              sections.size() * sizeof(IMAGE_SECTION_HEADER));
  auto fileOffset = [&](std::uint32_t rva) -> std::size_t {
    for (const IMAGE_SECTION_HEADER& s : sections)
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
        return rva - s.VirtualAddress + s.PointerToRawData;
    throw std::runtime_error("address outside every section");
  };
  const IMAGE_DATA_DIRECTORY& directory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (directory.Size == 0) return {};
  IMAGE_EXPORT_DIRECTORY exports;
  std::memcpy(&exports, at(fileOffset(directory.VirtualAddress), sizeof exports), sizeof exports);
  std::vector<std::string> names;
  const std::size_t table = fileOffset(exports.AddressOfNames);
  for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
    std::uint32_t rva;
    std::memcpy(&rva, at(table + 4 * i, 4), 4);
    names.emplace_back(at(fileOffset(rva), 1));
  }
  return names;
}

std::string demangle(const std::string& name) {
  int status = 0;
  char* text = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
  if (status != 0) return name;
  std::string out(text);
  std::free(text);
  return out;
}

// "Ostrel::ConnectTarn(char const*)" -> "Ostrel::ConnectTarn"; a variable stays as it is, less
// its ABI tag ("OstrelFunc::GetDataPointN[abi:cxx11]": its type names std::string).
std::string qualifiedName(const std::string& demangled) {
  std::string name = demangled.substr(0, demangled.find('('));
  const std::size_t tag = name.find("[abi:");
  return tag == std::string::npos ? name : name.substr(0, tag);
}

struct Operation {
  const char* name;
  const char* slot;
};
const Operation kOperations[] = {
#define OSTREL_OP(R, Name, Slot, Params, Args) {#Name, #Slot},
#include "ostrel/api/operations.def"
#undef OSTREL_OP
};

class ExportTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const std::string& name : exportedNames(besideThisProgram("ostrel.dll"))) {
      const std::string demangled = demangle(name);
      all.insert(demangled);
      ++counts[qualifiedName(demangled)];
    }
  }
  static int exported(const std::string& qualified) { return counts.count(qualified) ? counts[qualified] : 0; }
  static int exportedUnder(const std::string& prefix) {
    int n = 0;
    for (const auto& entry : counts)
      if (entry.first.compare(0, prefix.size(), prefix) == 0) n += entry.second;
    return n;
  }
  static inline std::set<std::string> all;
  static inline std::map<std::string, int> counts;
};

TEST_F(ExportTable, FacadeSlotsAndDefaultsMatchTheOperationTable) {
  ASSERT_EQ(97u, std::size(kOperations));
  std::map<std::string, int> overloads;
  for (const Operation& op : kOperations) ++overloads[op.name];
  for (const auto& entry : overloads) {
    EXPECT_EQ(entry.second, exported("Ostrel::" + entry.first)) << "façade overloads of " << entry.first;
    EXPECT_EQ(entry.second, exported("OstrelOrigin::" + entry.first)) << "defaults of " << entry.first;
  }
  for (const Operation& op : kOperations) EXPECT_EQ(1, exported(std::string("OstrelFunc::") + op.slot)) << op.slot;
  EXPECT_EQ(1, exported("OstrelFunc::loadDefault"));

  EXPECT_EQ(97, exportedUnder("Ostrel::")) << "nothing else in the façade's namespace";
  EXPECT_EQ(97, exportedUnder("OstrelOrigin::"));
  EXPECT_EQ(98, exportedUnder("OstrelFunc::"));
}

TEST_F(ExportTable, ExtensionFunctions) {
  EXPECT_EQ(1, exported("OstrelExt::openDTPSnapShot"));
  EXPECT_EQ(1, exported("OstrelExt::openPortSnapShot"));
  EXPECT_EQ(1, exported("OstrelExt::closeRemoteFile"));
  EXPECT_EQ(3, exportedUnder("OstrelExt::"));
}

// Classes and structs with code of their own export it: members, vtable and type info. A
// struct of plain fields (ObjectNames, BrennicDataList, BrennicVariable, BrennicServerList,
// ProgramStatus, ContenderInHost and their sequences) has no code; its layout is its interface.
const char* const kClassesWithCode[] = {"BrennicData",      "BrennicPartialData", "BrennicStore",
                                        "TarnDataType",     "TarnTypeMgr",        "BrennicStatusListenerBase",
                                        "BrennicRemoteFile", "BrennicMetaList",   "BrennicMetaData"};
// Exported by the headers beside them: the value converter and the type manager's helper structs.
const char* const kHelperClasses[] = {"ValueConvetor", "DataVariable", "StreamDT_INFO"};

TEST_F(ExportTable, ExportedClassesAndStructs) {
  const auto& classes = kClassesWithCode;
  for (const char* name : classes) {
    const std::string member = std::string(name) + "::";
    bool found = false;
    for (const std::string& symbol : all)
      if (symbol.compare(0, member.size(), member) == 0 || symbol == std::string("vtable for ") + name ||
          symbol == std::string("typeinfo for ") + name)
        found = true;
    EXPECT_TRUE(found) << name << " exports nothing";
  }
}

TEST_F(ExportTable, NothingElseLeavesTheLibrary) {
  // Every name belongs to the library's namespaces or to one of its exported classes: nothing of
  // the middleware client, omniORB, ACE or the C++ run-time inside the DLL.
  std::vector<std::string> roots = {"Ostrel::", "OstrelFunc::", "OstrelOrigin::", "OstrelExt::"};
  for (const char* name : kClassesWithCode) roots.push_back(std::string(name) + "::");
  for (const char* name : kHelperClasses) roots.push_back(std::string(name) + "::");
  for (const std::string& symbol : all) {
    // GCC emits the type info of two ACE thread descriptors beside the connector's code and marks
    // it for export; it names ACE's types only and carries no code of the library.
    if (symbol == "typeinfo for ACE_OS_Thread_Descriptor" || symbol == "typeinfo for ACE_Thread_Descriptor_Base")
      continue;
    std::string name = symbol;
    for (const char* prefix : {"typeinfo for ", "typeinfo name for ", "vtable for "})
      if (name.compare(0, std::strlen(prefix), prefix) == 0) name = name.substr(std::strlen(prefix)) + "::";
    bool inside = false;
    for (const std::string& root : roots) inside = inside || name.compare(0, root.size(), root) == 0;
    EXPECT_TRUE(inside) << symbol;
  }
}

}  // namespace
