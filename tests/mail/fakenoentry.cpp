// A library that is no mail client: it exports no MAPISendMail.

extern "C" __attribute__((visibility("default"))) int MAPILogon()
{
    return 0;
}
