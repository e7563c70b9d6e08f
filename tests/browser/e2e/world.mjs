// What the browser end-to-end tests share: a scratch world (registry, runtime folder, home and
// XDG folders, system root) with the helper library registered into it, so that the browsers find
// the native host's manifests there and nothing reaches the real desktop; a test page served from
// 127.0.0.1; the capture dialog and the viewer driven over the DevTools protocol; and the
// collection file read back.
//
// The build tree's paths come from the environment that ctest sets (tests/browser/CMakeLists.txt).

import {spawn, spawnSync} from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import WebSocket from "ws";

export const kWaitMs = 60000;
export const build = {
    regsvr: process.env.CLIPVANE_REGSVR,
    helpers: process.env.HELPERS_LIBRARY,
    launcher: process.env.CLIPVANE_LAUNCHER,
    extensions: process.env.EXTENSION_DIR,
    hostName: process.env.CLIPVANE_NATIVE_HOST_NAME,
};

// Waits until `probe` gives a truthy value (awaited); throws what `what` names when time is up.
export async function until(what, probe, timeoutMs = kWaitMs) {
    const end = Date.now() + timeoutMs;
    for (;;) {
        const value = await probe().catch(() => undefined);
        if (value)
            return value;
        if (Date.now() > end)
            throw new Error(`timed out waiting for ${what}`);
        await new Promise((r) => setTimeout(r, 100));
    }
}

export function freePort() {
    return new Promise((resolve) => {
        const server = net.createServer().listen(0, "127.0.0.1", () => {
            const {port} = server.address();
            server.close(() => resolve(port));
        });
    });
}

// Whether a program is on the PATH.
export function installed(program) {
    return spawnSync("sh", ["-c", `command -v ${program}`]).status === 0;
}

export class World {
    // A world of the build tree's programs, registered into private folders; or, with
    // `installed`, a new user of the installed package: an empty home, and the machine's
    // registration (the real registry's machine hive, the system's browser folders).
    static async create({installed = false} = {}) {
        const world = new World(fs.mkdtempSync(path.join(os.tmpdir(), "clipvane-e2e-")), installed);
        world.dialogPort = await freePort();
        world.viewerPort = await freePort();
        world.standbyPort = await freePort();
        // The standby a running viewer keeps for captures serves DevTools there.
        world.env.TAVRELO_STANDBY_REMOTE_DEBUGGING = `127.0.0.1:${world.standbyPort}`;
        if (!installed)
            world.register();
        return world;
    }

    constructor(root, installed = false) {
        this.root = root;
        for (const name of ["registry", "runtime", "home", "config", "data", "system"])
            fs.mkdirSync(this.dir(name));
        this.env = {
            ...process.env,
            HOME: this.dir("home"),
            XDG_CONFIG_HOME: this.dir("config"),
            XDG_DATA_HOME: this.dir("data"),
            TAVRELO_REGISTRY_DIR: this.dir("registry"),
            TAVRELO_SYSTEM_ROOT: this.dir("system"),
            TAVRELO_RUNTIME_DIR: this.dir("runtime"),
            TAVRELO_AUTOMATION: this.file("answers.jsonl"),
            TAVRELO_AUTOMATION_LOG: this.file("requests.jsonl"),
        };
        if (installed) {
            delete this.env.TAVRELO_REGISTRY_DIR;
            delete this.env.TAVRELO_SYSTEM_ROOT;
        }
        this.processes = [];
    }

    dir(name) { return path.join(this.root, name); }
    file(name) { return path.join(this.root, name); }
    get collection() { return path.join(this.dir("home"), "Clipvane.t-q"); }
    // Where registration writes the browsers' per-user host manifests.
    get chromiumManifest() { return path.join(this.dir("config"), "chromium", "NativeMessagingHosts", `${build.hostName}.json`); }
    get firefoxManifest() { return path.join(this.dir("home"), ".mozilla", "native-messaging-hosts", `${build.hostName}.json`); }

    // The environment for a browser: the native host it starts, and the dialog that starts, inherit
    // it, and with it the dialog's DevTools port.
    browserEnv() { return {...this.env, QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${this.dialogPort}`}; }

    register() {
        const run = spawnSync(build.regsvr, ["-s", build.helpers], {env: this.env, encoding: "utf8"});
        if (run.status !== 0)
            throw new Error(`registration failed (${run.status}): ${run.stderr}`);
    }

    // Starts a process of the test's own, ended at cleanup.
    spawn(program, args, options = {}) {
        const child = spawn(program, args, {stdio: ["ignore", "inherit", "inherit"], ...options});
        this.processes.push(child);
        return child;
    }

    // Starts Clipvane on `file`; its viewer keeps running after the launcher has ended.
    async startViewer(file) {
        const launcher = this.spawn(build.launcher, [file],
            {env: {...this.env, QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${this.viewerPort}`}});
        await new Promise((resolve) => launcher.once("exit", resolve));
        const viewer = await DevToolsPage.attach(this.viewerPort, (url) => url.endsWith("/TavTracker.hta"));
        await until("the viewer's list", () => viewer.evaluate("!!fnGetQuilletHolder()"));
        return viewer;
    }

    // The viewers and dialogs of the world, by their endpoints in its runtime folder
    // ("<pid>-<serial>.json").
    hostProcesses() {
        const endpoints = path.join(this.dir("runtime"), "endpoints");
        const ids = fs.existsSync(endpoints) ? fs.readdirSync(endpoints) : [];
        return [...new Set(ids.map((name) => Number.parseInt(name, 10)).filter((pid) => pid > 0))];
    }

    // Ends what the world started and waits for it to go before its folders are removed.
    async cleanup() {
        const alive = (pid) => { try { process.kill(pid, 0); return true; } catch (e) { return false; } };
        const pids = [...this.hostProcesses(), ...this.processes.map((child) => child.pid)].filter(alive);
        for (const pid of pids)
            process.kill(pid, "SIGTERM");
        await until("the test's processes to end", async () => !pids.some(alive), 30000).catch((e) => {
            pids.filter(alive).forEach((pid) => process.kill(pid, "SIGKILL"));
        });
        fs.rmSync(this.root, {recursive: true, force: true, maxRetries: 3});
    }

    // The capture dialog the browser's host started, or the viewer's standby opened, once its
    // folder tree shows.
    async attachDialog(timeoutMs = kWaitMs) {
        const dialog = await DevToolsPage.attach([this.dialogPort, this.standbyPort], (url) => url.endsWith("/ktGrab.htm"), timeoutMs);
        await until("the dialog's folder tree", () => dialog.evaluate(
            "new Promise((r) => setTimeout(() => { try { r(document.readyState == 'complete' &&"
            + " !!frames.ctlFoldersTree.document.getElementById('FoldersTree')); } catch (e) { r(false); } }))"));
        return dialog;
    }

    // The fragments of a collection file, each as its attributes (as the file has them).
    static fragments(file) {
        if (!fs.existsSync(file))
            return [];
        const xml = fs.readFileSync(file, "utf8");
        return [...xml.matchAll(/<TavTracker:ktFRAGMENT([^>]*?)\/?>/g)].map(
            ([, attributes]) => Object.fromEntries([...attributes.matchAll(/(\w+)="([^"]*)"/g)].map(([, k, v]) => [k, v])));
    }
}

// A page of a DevTools server (htahost's): attached by its address, evaluates script.
export class DevToolsPage {
    // The first page `accept` takes on the DevTools port, or on one of the ports, given.
    static async attach(ports, accept, timeoutMs = kWaitMs) {
        const target = await until(`a DevTools page on port ${ports}`, async () => {
            for (const port of [].concat(ports)) {
                const pages = await fetch(`http://127.0.0.1:${port}/json`).then((r) => r.json()).catch(() => []);
                const page = pages.find((page) => page.type === "page" && accept(page.url));
                if (page)
                    return page;
            }
            return undefined;
        }, timeoutMs);
        const page = new DevToolsPage(new WebSocket(target.webSocketDebuggerUrl));
        await new Promise((resolve, reject) => { page.socket.once("open", resolve); page.socket.once("error", reject); });
        return page;
    }

    constructor(socket) {
        this.socket = socket;
        this.lastId = 0;
        this.waiting = new Map();
        socket.on("message", (data) => {
            const message = JSON.parse(data.toString());
            this.waiting.get(message.id)?.(message);
            this.waiting.delete(message.id);
        });
        // A dialog that closes ends its page: what is still waiting gets no answer.
        socket.on("close", () => { for (const answer of this.waiting.values()) answer({}); this.waiting.clear(); });
    }

    call(method, params = {}) {
        const id = ++this.lastId;
        return new Promise((resolve) => {
            this.waiting.set(id, (message) => resolve(message.result ?? {}));
            this.socket.send(JSON.stringify({id, method, params}));
        });
    }

    // The value of `expression` (promises awaited); undefined when it threw.
    async evaluate(expression) {
        const result = await this.call("Runtime.evaluate", {expression, returnByValue: true, awaitPromise: true});
        return result.exceptionDetails ? undefined : result.result?.value;
    }

    close() { this.socket.close(); }
}

// The test page: two paragraphs, served from 127.0.0.1. `/select` selects both on load, focuses
// the window and then asks for `/selected`, which tells the test that the selection stands.
export async function servePage() {
    let selected;
    const ready = new Promise((resolve) => { selected = resolve; });
    const page = (script) => `<!DOCTYPE html><html><head><meta charset="utf-8"><title>Two paragraphs</title></head>
<body><p id="first">First paragraph of the page</p><p id="second">Second paragraph, with <b>bold</b> words</p>
<p id="third">Not selected</p>${script}</body></html>`;
    const selectScript = `<script>addEventListener("load", () => { const range = document.createRange();
range.setStartBefore(first.firstChild); range.setEnd(second.lastChild, second.lastChild.length);
getSelection().removeAllRanges(); getSelection().addRange(range); focus(); fetch("/selected"); });</script>`;
    const server = http.createServer((request, response) => {
        if (request.url === "/selected") {
            selected();
            response.end();
            return;
        }
        response.setHeader("Content-Type", "text/html; charset=utf-8");
        response.end(page(request.url === "/select" ? selectScript : ""));
    });
    await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
    const {port} = server.address();
    return {url: (name = "page") => `http://127.0.0.1:${port}/${name}`, selected: ready, close: () => server.close()};
}

// What the page above's selection is stored as: its two paragraphs, the line break between them
// as the collection writes one.
export const kStoredSelection = "First paragraph of the page!BR/!Second paragraph, with bold words";
