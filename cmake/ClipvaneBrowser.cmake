# The names that tie the browser extension, its native host and registration together.
# Chromium derives an unpacked extension's id from the public key in its manifest, so the id is
# the same wherever the extension is loaded from; Firefox takes the id the manifest gives.
set(CLIPVANE_NATIVE_HOST_NAME "com.tavrelo.clipvane")
set(CLIPVANE_CHROMIUM_EXTENSION_KEY "MIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEAoQqp/a/NE5PB6V044GRS8iBxFfVHxIgVfpCiIhwaRgIcp389B/INGD5elthckJDY+7GlUblWuBfVwCGU+qcwiBBGwhZRbigF0x4oRpwZWo+wKYx6qj0lOVgSWreMbX+j4x+OFIZd9OjUQ1jjuIs3QLpr1nqP3VRlKVHoT786+hXqeIKWkDEZrE7VeUCpo28bMBOKOktC+jDUT3F05ZwwkSeBM3/PwxwCeFFGUxVVpupmPJzczRpAraE1YyjK8cZaB+y3Y6hlXxL+d14YeCioIcSwsgYW3mfDQvQkljHoODEZbwRL9SJjWCmFr7eKEWM7vDv7UnNfGPwk84qcFcgwNwIDAQAB")
set(CLIPVANE_CHROMIUM_EXTENSION_ID "pfhpkbcioilhppjlcenhmflbflekbhkf")
set(CLIPVANE_FIREFOX_EXTENSION_ID "clipvane@tavrelo.org")
# Where Debian's Firefox takes add-ons for every user: a folder per add-on, named by its id, in the
# folder named by Firefox's application id.
set(CLIPVANE_FIREFOX_SYSTEM_EXTENSIONS "usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}")
