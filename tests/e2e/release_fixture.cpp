#include "tests/e2e/release_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "OVCommon/OVCommon.h"
#include "tests/support/pe_builder.h"

namespace testsupport {

namespace {

constexpr const char* kGroupsInDocumentOrder[] = {"custom", "program", "tools", "database"};

std::string LastComponent(const std::string& fileName) {
    const size_t separator = fileName.find_last_of("/\\");
    return separator == std::string::npos ? fileName : fileName.substr(separator + 1);
}

void WriteBelow(const std::string& folder, const std::string& relativePath, const std::string& content) {
    const std::filesystem::path target = folder + relativePath;
    std::filesystem::create_directories(target.parent_path());
    WriteFile(target.string(), content);
}

// Zips every file below the folder; -D leaves folder entries out, as a folder member could not be unpacked.
std::string ZipFolder(const std::string& folder, const std::string& archive) {
    const std::string command = "cd '" + folder + "' && zip -q -X -D -r '" + archive + "' .";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "zip failed: " << command;
    return ReadFile(archive);
}

std::string HexCrc(uint32_t crc) {
    char text[16];
    std::snprintf(text, sizeof text, "$%08X", crc);
    return text;
}

}  // namespace

std::string CrcText(const std::string& bytes) { return HexCrc(CrcUpdate(0, bytes.data(), bytes.size())); }

std::string VersionedProgram(const std::u16string& fileVersion) {
    constexpr uint32_t kUsEnglishUnicode = 0x04B00409;  // language 0x0409, code page 1200
    return pe::Image(pe::Serialize(pe::VersionInfo(u"040904b0", fileVersion, {kUsEnglishUnicode})));
}

Release::Release(const NginxServer& server, std::string name) : server_(server), name_(std::move(name)) {}

ReleaseFile& Release::Add(const std::string& group, const std::string& fileName, const std::string& content,
                          const std::string& packageName) {
    ReleaseFile& file = files_.emplace_back();
    file.group = group;
    file.fileName = fileName;
    file.content = content;
    file.statedSize = static_cast<int64_t>(content.size());
    file.statedCrc = CrcUpdate(0, content.data(), content.size());
    if (!packageName.empty()) file.packagePath = name_ + "/" + std::to_string(files_.size()) + "/" + packageName;
    return file;
}

ReleaseFile& Release::AddFile(const std::string& group, const std::string& fileName, const std::string& content) {
    ReleaseFile& file = Add(group, fileName, content, LastComponent(fileName));
    server_.AddFile(file.packagePath, content);
    return file;
}

ReleaseFile& Release::AddZipped(const std::string& group, const std::string& fileName, const std::string& content,
                                const std::map<std::string, std::string>& otherMembers,
                                const std::string& memberFolder) {
    ReleaseFile& file = Add(group, fileName, content, "package.zip");
    const std::string index = std::to_string(files_.size());
    const std::string members = staging_ / (index + "/");
    WriteBelow(members, memberFolder + LastComponent(fileName), content);
    for (const auto& [memberName, memberContent] : otherMembers) WriteBelow(members, memberName, memberContent);
    server_.AddFile(file.packagePath, ZipFolder(members, staging_ / (index + ".zip")));
    return file;
}

ReleaseFile& Release::AddRemoval(const std::string& group, const std::string& fileName) {
    return Add(group, fileName, "", "");
}

void Release::AddGroupXml(const std::string& group, const std::string& xml) { groupXml_[group] += xml; }

void Release::AddRootXml(const std::string& xml) { rootXml_ += xml; }

void Release::AddTopLevelXml(const std::string& xml) { topLevelXml_ += xml; }

void Release::Publish() const {
    const std::string text = CatalogueText();
    server_.AddFile(kProductCataloguePath, text);
    server_.AddFile(kQueryCataloguePath, text);
}

// Groups come in another order than the fixed one in which they are handled.
std::string Release::CatalogueText() const {
    std::string groups;
    for (const char* group : kGroupsInDocumentOrder) groups += GroupXml(group);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<catalogue>\r\n <update>\r\n" + groups + " </update>\r\n" +
           rootXml_ + "</catalogue>\r\n" + topLevelXml_;
}

std::string Release::GroupXml(const std::string& group) const {
    std::string entries;
    for (const ReleaseFile& file : files_)
        if (file.group == group) entries += EntryXml(file);
    const auto raw = groupXml_.find(group);
    if (raw != groupXml_.end()) entries += raw->second;
    return entries.empty() ? "" : "  <" + group + ">\r\n" + entries + "  </" + group + ">\r\n";
}

std::string Release::EntryXml(const ReleaseFile& file) const {
    std::string xml = "   <file><name>" + file.fileName + "</name><filename>" + file.fileName + "</filename>";
    if (!file.packagePath.empty()) {
        const std::string package = server_.webRoot() + file.packagePath;
        xml += "<crc>" + HexCrc(file.statedCrc) + "</crc><download>" + server_.Url(file.packagePath) + "</download>" +
               "<downloadsize>" + std::to_string(std::filesystem::file_size(package)) + "</downloadsize>";
    }
    return xml + "<size>" + std::to_string(file.statedSize) + "</size><action>copy</action>" + file.extraXml +
           "</file>\r\n";
}

}  // namespace testsupport
