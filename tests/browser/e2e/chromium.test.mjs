// The extension in Debian's Chromium, loaded unpacked, with the native host that registration
// wrote into the scratch world: a selection across two paragraphs of a page on 127.0.0.1 goes
// through the menu's and the keyboard's handler, the real host and the real capture dialog into
// the collection file and a running viewer; the toolbar badge and the notifications tell the
// outcome. Exits 77 (skipped) where chromium is not installed.

import {after, before, describe, test} from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import {World, build, installed, kStoredSelection, servePage, until} from "./world.mjs";

if (!installed("chromium")) {
    console.log("chromium is not installed: skipped");
    process.exit(77);
}
const puppeteer = (await import("puppeteer-core")).default;

describe("Chromium", () => {
    let world, site, browser, page, worker, viewer;

    before(async () => {
        world = await World.create();
        site = await servePage();
        // The menu and the command grant the extension the page (activeTab) when a person uses
        // them; a handler called over DevTools gets no such grant, so the test's copy of the
        // extension holds the test site's address as a host permission instead.
        const extension = world.dir("extension");
        fs.cpSync(path.join(build.extensions, "chromium"), extension, {recursive: true});
        const manifest = JSON.parse(fs.readFileSync(path.join(extension, "manifest.json"), "utf8"));
        fs.writeFileSync(path.join(extension, "manifest.json"),
            JSON.stringify({...manifest, host_permissions: ["http://127.0.0.1/*"]}));
        // Chromium looks for per-user hosts in <user-data-dir>/NativeMessagingHosts: the user data
        // folder is the one registration wrote into.
        browser = await puppeteer.launch({
            executablePath: "/usr/bin/chromium",
            headless: false,
            userDataDir: path.join(world.dir("config"), "chromium"),
            env: world.browserEnv(),
            ignoreDefaultArgs: ["--disable-extensions"],
            args: ["--no-sandbox", "--no-first-run", `--load-extension=${extension}`, `--disable-extensions-except=${extension}`],
        });
        const target = await browser.waitForTarget((t) => t.type() === "service_worker" && t.url().endsWith("/background.js"));
        worker = await target.worker();
        page = (await browser.pages())[0] ?? await browser.newPage();
        await page.goto(site.url());
        viewer = await world.startViewer(world.collection);
    });

    after(async () => {
        await browser?.close();
        site?.close();
        await world?.cleanup();
    });

    // Selects the page's first two paragraphs.
    const select = () => page.evaluate(() => {
        const range = document.createRange();
        range.setStartBefore(first.firstChild);
        range.setEnd(second.lastChild, second.lastChild.length);
        getSelection().removeAllRanges();
        getSelection().addRange(range);
    });
    // Records the notifications the extension creates, and what the browser still shows.
    const watchNotifications = () => worker.evaluate(() => {
        globalThis.created = [];
        const create = chrome.notifications.create.bind(chrome.notifications);
        chrome.notifications.create = (...args) => { globalThis.created.push(args.at(-1)); return create(...args); };
    });
    const notifications = () => worker.evaluate(async () =>
        ({created: globalThis.created.map((n) => n.message), shown: Object.keys(await chrome.notifications.getAll()).length}));
    const badge = () => worker.evaluate(() => chrome.action.getBadgeText({}));
    // Runs `handler` in the service worker on the page's tab, answers the dialog with `button`,
    // and gives the host's answer as the extension saw it.
    async function grab(handler, button) {
        const answer = worker.evaluate(async (handler, url) => {
            const [tab] = await chrome.tabs.query({url});
            return handler === "menu"
                ? grabSelectedText({menuItemId: "clipvane-grab", frameId: 0, pageUrl: url, selectionText: "flat"}, tab)
                : runCommand("grab-selected-text", tab);
        }, handler, site.url());
        const dialog = await world.attachDialog();
        assert.equal(await dialog.evaluate(`setTimeout(() => ${button}.click()); true`), true);
        return answer;
    }

    test("the menu's handler stores the selection with its line break; the viewer shows it", async () => {
        await watchNotifications();
        await select();
        assert.deepEqual(await grab("menu", "OK"), {ok: true, outcome: "stored"});
        const [fragment, ...more] = World.fragments(world.collection);
        assert.equal(more.length, 0);
        assert.equal(fragment.Text, kStoredSelection);
        assert.equal(fragment.Name, "Two paragraphs");
        assert.equal(fragment.BaseURL, site.url());
        assert.equal(await badge(), "\u2713");
        await until("the viewer shows the fragment", async () =>
            (await viewer.evaluate("[...fnGetQuilletHolder().querySelectorAll('table.Fragment')].map((t) => t.textContent).join('|')"))
                ?.includes("Second paragraph, with bold words"));
        assert.deepEqual(await notifications(), {created: [], shown: 0});
    });

    test("the keyboard command stores the selection; a cancelled dialog shows nothing", async () => {
        await select();
        assert.deepEqual(await grab("command", "Cancel"), {ok: true, outcome: "cancelled"});
        assert.equal(World.fragments(world.collection).length, 1, "nothing more stored");
        assert.equal(await badge(), "", "the last capture's badge went with the next capture");
        assert.deepEqual(await notifications(), {created: [], shown: 0});

        assert.deepEqual(await grab("command", "OK"), {ok: true, outcome: "stored"});
        const fragments = World.fragments(world.collection);
        assert.equal(fragments.length, 2);
        assert.equal(fragments[1].Text, kStoredSelection);
        assert.equal(await badge(), "\u2713");
    });

    test("the command without a selection says so in the page and starts nothing", async () => {
        await page.evaluate(() => getSelection().removeAllRanges());
        const alerted = new Promise((resolve) => page.once("dialog", async (d) => { resolve(d.message()); await d.accept(); }));
        const answer = worker.evaluate(async (url) => runCommand("grab-selected-text", (await chrome.tabs.query({url}))[0]), site.url());
        assert.equal(await alerted, "You should select some text to grab");
        assert.equal(await answer, null);
        assert.deepEqual(await notifications(), {created: [], shown: 0});
    });

    test("without the host's manifest the failure is a notification and nothing is stored", async () => {
        const before = fs.readFileSync(world.collection);
        fs.rmSync(world.chromiumManifest);
        await select();
        const answer = await worker.evaluate(async (url) => runCommand("grab-selected-text", (await chrome.tabs.query({url}))[0]), site.url());
        assert.equal(answer.ok, false);
        const {created, shown} = await notifications();
        assert.equal(created.length, 1);
        assert.match(created[0], /^Tavrelo Clipvane could not store the selected text:\n\n.*native messaging host not found/i);
        assert.equal(shown, 1, "the browser shows it");
        assert.equal(await badge(), "");
        assert.deepEqual(fs.readFileSync(world.collection), before);
    });
});
