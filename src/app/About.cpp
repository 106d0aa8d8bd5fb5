// The commands that do not touch the list: About, Donate and the shell views.
#include "app/Handlers.h"
#include "app/Nelvo.h"
#include "platform/File.h"
#include "platform/Shell.h"

namespace {
const char HomePage[] = "https://folderlane.example/";
const char DonationPage[] = "https://folderlane.example/donate";
const char MakerNotice[] = "(c) 2003-2026 Folderlane developers";
} // namespace

void ShowAbout() {
    std::string text = "Folderlane V ";
    text += GetFileVersionString(platform::ExecutablePath());
    text += " : ";
    text += MakerNotice;
    text += "\r\n\r\n        ";
    text += HomePage;
    text += "\r\n\r\n        View Readme File?";
    static bool open = false;
    if (AskOnce(open, text, "About Nelvo"))
        ShellOpen("open", platform::ExecutableFolder() + "Nelvoreadme.txt", nullptr, SW_SHOWNORMAL);
}

void OpenDonationPage() {
    ShellOpen("open", DonationPage, nullptr, SW_SHOWNORMAL);
}

void OpenMyComputer() {
    ShellOpen("open", "explorer.exe", "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", SW_SHOWNORMAL);
}

void OpenMyDocuments() {
    ShellOpen("open", "explorer.exe", "::{450D8FBA-AD25-11D0-98A8-0800361B1103}", SW_SHOWNORMAL);
}
