// The application manifest: its exact size and the values Windows binds the program to.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string ReadSourceFile(const std::string& relative) {
    const std::string root = PROJECT_SOURCE_DIR;
    std::ifstream in(root + relative, std::ios::binary);
    EXPECT_TRUE(in.good()) << root + relative;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Manifest, Is549BytesOfUtf8WithoutBom) {
    std::string xml = ReadSourceFile("resources/starter.manifest");
    EXPECT_EQ(xml.size(), 549u);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    EXPECT_EQ(xml.find('\r'), std::string::npos);
}

TEST(Manifest, DeclaresProgramAndCommonControls6) {
    std::string xml = ReadSourceFile("resources/starter.manifest");
    for (const char* part : {
             "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
             "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"X86\" "
             "name=\"CompanyName.ProductName.YourApp\" type=\"win32\" />",
             "<description>Your application description here.</description>",
             "<dependentAssembly>",
             "<assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
             "version=\"6.0.0.0\" processorArchitecture=\"X86\" "
             "publicKeyToken=\"6595b64144ccf1df\" language=\"*\" />",
             "</assembly>"})
        EXPECT_NE(xml.find(part), std::string::npos) << part;
}

}  // namespace
