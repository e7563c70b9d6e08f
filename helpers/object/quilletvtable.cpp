// IQuillet's vtable: each entry is made from its member function's signature (see
// automation/membertable.h).

#include "quilletvtable.h"
#include "quillet.h"

#include "automation/membertable.h"

namespace tavrelo::helpers {

using tavrelo::automation::MethodThunk;
using tavrelo::automation::TypeInfo;

namespace {

constexpr auto kIQuilletTable = tavrelo::automation::memberTable<
    &Quillet::get_RegistryString, &Quillet::put_RegistryString, &Quillet::get_RegistryDWORD,
    &Quillet::put_RegistryDWORD, &Quillet::get_PopupMenuHandle, &Quillet::put_PopupMenuHandle,
    &Quillet::PopupMenuCreate, &Quillet::PopupMenuAppendItem, &Quillet::PopupMenuAppendPathItem,
    &Quillet::PopupMenuAppendSeparator, &Quillet::PopupMenuEnableItem, &Quillet::PopupMenuCheckItem,
    &Quillet::PopupMenuTrack, &Quillet::PopupMenuDestroy, &Quillet::RestoreWindowPos, &Quillet::SaveWindowPos,
    &Quillet::AbbreviateFileName, &Quillet::LockFile, &Quillet::UnlockFile, &Quillet::DoPostMessage,
    &Quillet::DoCauseFind, &Quillet::DoSendChangeNotification, &Quillet::get_FileChangeFilePath,
    &Quillet::get_FileChangeFolderID, &Quillet::ShowMailClientsMenu, &Quillet::get_MailClientName,
    &Quillet::get_MailClientDLLPath, &Quillet::SetupDefaultMailClient, &Quillet::GetTempFilePath,
    &Quillet::SendFileToMailClient, &Quillet::ShowBrowseDialogBox, &Quillet::DoBroadcastCloseSplash,
    &Quillet::DoRevokeDragDrop, &Quillet::get_FileOpenFilePath, &Quillet::GetBaseDirectory,
    &Quillet::GetDocumentURL, &Quillet::get_KeyRegistryString>();

} // namespace

namespace quilletvtable {

std::span<const MethodThunk> entries()
{
    return kIQuilletTable.entries;
}

bool matches(const TypeInfo &info, QString *problem)
{
    return kIQuilletTable.matches(info, problem);
}

} // namespace quilletvtable

} // namespace tavrelo::helpers
