// The application manifests: the values Windows binds the program to.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>

namespace {

std::string ReadSourceFile(const std::string& relative) {
    // Not __FILE__: the build maps the source folder away.
    const std::string path = std::string(SOURCE_ROOT) + relative;
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The 32-bit and the 64-bit programs' manifests, with the architecture each names.
const std::pair<const char*, const char*> kManifests[] = {{"resources/starter.manifest", "X86"},
                                                          {"resources/starter-amd64.manifest", "amd64"}};

TEST(Manifest, IsUtf8WithoutBomOrCarriageReturns) {
    for (const auto& [file, arch] : kManifests) {
        std::string xml = ReadSourceFile(file);
        EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << file;
        EXPECT_EQ(xml.find('\r'), std::string::npos) << file;
    }
}

TEST(Manifest, DeclaresProgramCommonControls6AsInvokerAndSupportedWindows) {
    for (const auto& [file, arch] : kManifests) {
        const std::string xml = ReadSourceFile(file);
        const std::string a = arch;
        for (const std::string& part : {
                 std::string("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"),
                 "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"" + a +
                     "\" name=\"CompanyName.ProductName.YourApp\" type=\"win32\" />",
                 std::string("<description>Your application description here.</description>"),
                 std::string("<dependentAssembly>"),
                 "<assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
                 "version=\"6.0.0.0\" processorArchitecture=\"" + a +
                     "\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\" />",
                 std::string("<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">"),
                 std::string("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\" />"),
                 std::string("<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">"),
                 // Vista, 7, 8, 8.1, 10 and 11
                 std::string("<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\" />"),
                 std::string("<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\" />"),
                 std::string("<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\" />"),
                 std::string("<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\" />"),
                 std::string("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\" />"),
                 std::string("</assembly>")})
            EXPECT_NE(xml.find(part), std::string::npos) << file << ": " << part;
    }
}

}  // namespace
