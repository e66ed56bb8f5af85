#pragma once
// The user's and the system's special folders, looked up once when the component is created.
#include <string>

#include "framework/Component.h"

// Expands the last complete %NAME% pair of `text` with the environment variable NAME. The
// text is returned unchanged when it holds no complete pair after its last opening "%", or
// when NAME is not set (or does not fit in 260 characters).
std::string ExpandOneVariable(const std::string& text);

// Read-only text properties; every setter ignores its argument.
#define PBSYSTEM_PATH(Prop)                                        \
public:                                                            \
    const std::string& Prop() const { return Prop##_; }            \
    void Set##Prop(const std::string& value) { SetPath(value); }   \
                                                                   \
private:                                                           \
    std::string Prop##_;

class TPBSystemPath : public TComponent {
public:
    // Reads the folders. Raises ERegistryException when a registry value has a type other
    // than text ("Invalid data type for '%s'") or cannot be read ("Failed to get data for
    // '%s'"). A registry key that cannot be opened leaves its properties empty.
    explicit TPBSystemPath(TComponent* owner);

    PBSYSTEM_PATH(AppData)
    PBSYSTEM_PATH(Cache)
    PBSYSTEM_PATH(Cookies)
    PBSYSTEM_PATH(DeskTop)
    PBSYSTEM_PATH(Favorites)
    PBSYSTEM_PATH(Fonts)
    PBSYSTEM_PATH(History)
    PBSYSTEM_PATH(NetHood)
    PBSYSTEM_PATH(Personal)
    PBSYSTEM_PATH(PrintHood)
    PBSYSTEM_PATH(Programs)
    PBSYSTEM_PATH(Recent)
    PBSYSTEM_PATH(SendTo)
    PBSYSTEM_PATH(StartMenu)
    PBSYSTEM_PATH(StartUp)
    PBSYSTEM_PATH(Templates)
    PBSYSTEM_PATH(Windows)
    PBSYSTEM_PATH(System)
    PBSYSTEM_PATH(Temp)
    PBSYSTEM_PATH(CommonFiles)
    PBSYSTEM_PATH(Config)
    PBSYSTEM_PATH(Device)
    PBSYSTEM_PATH(Media)
    PBSYSTEM_PATH(OtherDevice)
    PBSYSTEM_PATH(ProgramFiles)
    PBSYSTEM_PATH(SystemRoot)
    PBSYSTEM_PATH(WallPaper)
    PBSYSTEM_PATH(ComponentVersion)
    PBSYSTEM_PATH(MyPictures)
    PBSYSTEM_PATH(LocalSettings)
    PBSYSTEM_PATH(LocalAppData)
    PBSYSTEM_PATH(Content)

private:
    // The shared setter: the folders never change after construction.
    void SetPath(const std::string&) {}
};

#undef PBSYSTEM_PATH
