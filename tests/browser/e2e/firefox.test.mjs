// The extension in Debian's Firefox ESR: the native host's manifest is the one registration wrote,
// and the keyboard shortcut Alt+Shift+G, pressed as a person would (xdotool under Xvfb), grabs the
// selection of a page on 127.0.0.1 through the real host and dialog into the collection file.
// Firefox offers no protocol into an extension's background, so its keyboard shortcut is the way
// in; it also shows that the shortcut the manifest suggests is bound, and that the background runs.
//
// Two ways of having the add-on:
// - the build tree's (ctest): a scratch profile holds the unpacked extension (unsigned, which ESR
//   allows with the preferences below), registered into a scratch world;
// - the installed package's (CLIPVANE_INSTALLED=1, from scripts/package-test.sh): a fresh profile
//   with no preference about add-ons, as a new user of the machine starts Firefox; the add-on comes
//   from the system's extension folder, the host's manifest from /usr/lib/mozilla, the dialog from
//   the machine's registration. Its entry in the profile's extensions.json must be active.
//
// Exits 77 (skipped) where firefox-esr is not installed.

import {after, before, describe, test} from "node:test";
import assert from "node:assert/strict";
import {spawnSync} from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import {fileURLToPath} from "node:url";
import {World, build, installed, kStoredSelection, servePage, until} from "./world.mjs";

if (!installed("firefox-esr") || !installed("xdotool")) {
    console.log("firefox-esr or xdotool is not installed: skipped");
    process.exit(77);
}

const kInstalled = process.env.CLIPVANE_INSTALLED === "1";
const kSystemExtension = "/usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/";
const kSystemManifest = `/usr/lib/mozilla/native-messaging-hosts/${build.hostName}.json`;

// The add-on of the build tree, in the profile's own folder, needs these; an installed one none.
const kAddonPreferences = {
    "xpinstall.signatures.required": false,
    // Extensions in the profile's own folder are installed and enabled without asking.
    "extensions.autoDisableScopes": 0,
    "extensions.enabledScopes": 15,
};
// No first-run pages or questions in front of the test's page.
const kPreferences = {
    "browser.shell.checkDefaultBrowser": false,
    "browser.startup.homepage_override.mstone": "ignore",
    "browser.aboutwelcome.enabled": false,
    "datareporting.policy.dataSubmissionEnabled": false,
    "toolkit.telemetry.reportingpolicy.firstRun": false,
    "app.update.disabledForTesting": true,
};

// The add-ons a profile knows, as Firefox lists them in its extensions.json.
const profileAddons = (profile) => JSON.parse(fs.readFileSync(path.join(profile, "extensions.json"), "utf8")).addons;

// Other active add-ons, unpacked on this machine, whose manifest suggests our shortcut.
function takersOfOurShortcut(profile) {
    const suggestsIt = (addon) => {
        try {
            const manifest = JSON.parse(fs.readFileSync(path.join(fileURLToPath(addon.rootURI), "manifest.json"), "utf8"));
            return Object.values(manifest.commands ?? {}).some((command) => command?.suggested_key?.default === "Alt+Shift+G");
        } catch (e) {
            return false; // packed, or not on this machine's disk
        }
    };
    return profileAddons(profile).filter((addon) => addon.active && addon.id !== process.env.CLIPVANE_FIREFOX_EXTENSION_ID &&
        String(addon.rootURI).startsWith("file://") && suggestsIt(addon)).map((addon) => addon.id);
}

const xdotool = (...args) => spawnSync("xdotool", args, {encoding: "utf8", timeout: 30000});

describe("Firefox ESR", () => {
    let world, site;

    before(async () => {
        world = await World.create({installed: kInstalled});
        site = await servePage();
    });
    after(async () => {
        site?.close();
        await world?.cleanup();
    });

    test("registration's manifest is Firefox's, and Alt+Shift+G grabs the selection", async () => {
        const manifestFile = kInstalled ? kSystemManifest : world.firefoxManifest;
        const manifest = JSON.parse(fs.readFileSync(manifestFile, "utf8"));
        assert.equal(manifest.name, build.hostName);
        assert.equal(manifest.type, "stdio");
        assert.deepEqual(manifest.allowed_extensions, [process.env.CLIPVANE_FIREFOX_EXTENSION_ID]);
        assert.ok(path.isAbsolute(manifest.path));
        if (kInstalled)
            assert.equal(manifest.path, "/usr/bin/clipvane-native-host");
        fs.accessSync(manifest.path, fs.constants.X_OK);

        const profile = world.dir("profile");
        fs.mkdirSync(path.join(profile, "extensions"), {recursive: true});
        const preferences = kInstalled ? kPreferences : {...kAddonPreferences, ...kPreferences};
        fs.writeFileSync(path.join(profile, "user.js"),
            Object.entries(preferences).map(([name, value]) => `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});\n`).join(""));
        // A file named by the add-on's id that holds the unpacked extension's folder.
        if (!kInstalled)
            fs.writeFileSync(path.join(profile, "extensions", process.env.CLIPVANE_FIREFOX_EXTENSION_ID),
                path.join(build.extensions, "firefox"));
        world.spawn("firefox-esr", ["--no-remote", "--new-instance", "--profile", profile, site.url("select")], {env: world.browserEnv()});
        await site.selected;

        // Firefox writes the add-ons it found into the profile once it has started them.
        const addon = await until("the add-on in extensions.json", async () =>
            profileAddons(profile).find((entry) => entry.id === process.env.CLIPVANE_FIREFOX_EXTENSION_ID));
        if (kInstalled) {
            assert.equal(addon.location, "app-system-share");
            assert.equal(decodeURIComponent(addon.rootURI), `file://${kSystemExtension}${addon.id}/`);
            assert.deepEqual([addon.active, addon.userDisabled, addon.appDisabled], [true, false, false]);
        }
        assert.deepEqual(takersOfOurShortcut(profile), [],
            "no other add-on of this machine suggests Alt+Shift+G (Firefox binds a suggested key for one add-on only)");

        const window = await until("Firefox's window", async () =>
            xdotool("search", "--onlyvisible", "--name", "Two paragraphs").stdout.trim().split("\n").filter(Boolean).at(-1));
        // The shortcut is bound once the extension has started, which may follow the page's load:
        // pressed again while no dialog has come.
        let dialog;
        for (let attempt = 0; attempt < 3 && !dialog; ++attempt) {
            xdotool("windowfocus", "--sync", window);
            xdotool("key", "--clearmodifiers", "alt+shift+g");
            dialog = await world.attachDialog(20000).catch(() => undefined);
        }
        assert.ok(dialog, "the shortcut opened the capture dialog");
        if (kInstalled)
            assert.match(await dialog.evaluate("location.href"), /^res:\/\/\/usr\/lib\/clipvane\/libTavreloHelpers\.so\//);
        assert.equal(await dialog.evaluate("edtFragment.value"), kStoredSelection.replace("!BR/!", "\n"));
        assert.equal(await dialog.evaluate("setTimeout(() => OK.click()); true"), true);
        const [fragment] = await until("the stored fragment", async () => World.fragments(world.collection).length && World.fragments(world.collection));
        assert.equal(fragment.Text, kStoredSelection);
        assert.equal(fragment.BaseURL, site.url("select"));
        assert.equal(World.fragments(world.collection).length, 1, "one press, one fragment");
    });
});
