// Members whose behaviour comes with later work. Each answers E_NOTIMPL until then, so a page
// calling one gets a clear thrown error rather than a silent no-op.

#include "quillet.h"

// Mail clients.
HRESULT Quillet::ShowMailClientsMenu(std::int32_t, std::int32_t, const QString &, std::int32_t *) { return E_NOTIMPL; }
HRESULT Quillet::get_MailClientName(QString *) { return E_NOTIMPL; }
HRESULT Quillet::get_MailClientDLLPath(QString *) { return E_NOTIMPL; }
HRESULT Quillet::SetupDefaultMailClient(std::int32_t *) { return E_NOTIMPL; }
HRESULT Quillet::SendFileToMailClient(const QString &, const QString &, const QString &, std::int32_t *)
{
    return E_NOTIMPL;
}

