// The extension in Debian's Firefox ESR: a scratch profile holds the unpacked extension (unsigned,
// which ESR allows), the native host's manifest is the one registration wrote into the scratch
// home, and the keyboard shortcut Alt+Shift+G, pressed as a person would (xdotool under Xvfb), grabs
// the selection of a page on 127.0.0.1 through the real host and dialog into the collection file.
// Firefox offers no protocol into an extension's background, so its keyboard shortcut is the way
// in; it also shows that the shortcut the manifest suggests is bound. Exits 77 (skipped) where
// firefox-esr is not installed.

import {after, before, describe, test} from "node:test";
import assert from "node:assert/strict";
import {spawnSync} from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import {World, build, installed, kStoredSelection, servePage, until} from "./world.mjs";

if (!installed("firefox-esr") || !installed("xdotool")) {
    console.log("firefox-esr or xdotool is not installed: skipped");
    process.exit(77);
}

const kPreferences = {
    "xpinstall.signatures.required": false,
    // Extensions in the profile's own folder are installed and enabled without asking.
    "extensions.autoDisableScopes": 0,
    "extensions.enabledScopes": 15,
    "browser.shell.checkDefaultBrowser": false,
    "browser.startup.homepage_override.mstone": "ignore",
    "browser.aboutwelcome.enabled": false,
    "datareporting.policy.dataSubmissionEnabled": false,
    "toolkit.telemetry.reportingpolicy.firstRun": false,
    "app.update.disabledForTesting": true,
};

const xdotool = (...args) => spawnSync("xdotool", args, {encoding: "utf8", timeout: 30000});

describe("Firefox ESR", () => {
    let world, site;

    before(async () => {
        world = await World.create();
        site = await servePage();
    });
    after(async () => {
        site?.close();
        await world?.cleanup();
    });

    test("registration's manifest is Firefox's, and Alt+Shift+G grabs the selection", async () => {
        const manifest = JSON.parse(fs.readFileSync(world.firefoxManifest, "utf8"));
        assert.equal(manifest.name, build.hostName);
        assert.equal(manifest.type, "stdio");
        assert.deepEqual(manifest.allowed_extensions, [process.env.CLIPVANE_FIREFOX_EXTENSION_ID]);
        assert.ok(path.isAbsolute(manifest.path));
        fs.accessSync(manifest.path, fs.constants.X_OK);

        const profile = world.dir("profile");
        fs.mkdirSync(path.join(profile, "extensions"), {recursive: true});
        fs.writeFileSync(path.join(profile, "user.js"),
            Object.entries(kPreferences).map(([name, value]) => `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});\n`).join(""));
        // A file named by the add-on's id that holds the unpacked extension's folder.
        fs.writeFileSync(path.join(profile, "extensions", process.env.CLIPVANE_FIREFOX_EXTENSION_ID),
            path.join(build.extensions, "firefox"));
        world.spawn("firefox-esr", ["--no-remote", "--new-instance", "--profile", profile, site.url("select")], {env: world.browserEnv()});
        await site.selected;

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
        assert.equal(await dialog.evaluate("edtFragment.value"), kStoredSelection.replace("!BR/!", "\n"));
        assert.equal(await dialog.evaluate("setTimeout(() => OK.click()); true"), true);
        const [fragment] = await until("the stored fragment", async () => World.fragments(world.collection).length && World.fragments(world.collection));
        assert.equal(fragment.Text, kStoredSelection);
        assert.equal(fragment.BaseURL, site.url("select"));
        assert.equal(World.fragments(world.collection).length, 1, "one press, one fragment");
    });
});
