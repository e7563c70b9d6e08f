// A small test framework for pages that run in the real host. Cases run in order; each may be
// async. Results go to the console as "PAGETEST {json}" lines, which the runner reads.
var PageTest = (function () {
  'use strict';
  const cases = [];

  function report(object) {
    console.log('PAGETEST ' + JSON.stringify(object));
  }

  function fail(message) {
    throw new Error(message);
  }

  function show(value) {
    try {
      return JSON.stringify(value);
    } catch (e) {
      return String(value);
    }
  }

  const check = {
    ok(condition, what) {
      if (!condition)
        fail(what || 'expected a true condition');
    },
    equal(actual, expected, what) {
      if (actual !== expected)
        fail((what ? what + ': ' : '') + 'expected ' + show(expected) + ', got ' + show(actual));
    },
    // The call must throw an error whose number is the given result code.
    throwsNumber(call, number, what) {
      try {
        call();
      } catch (e) {
        check.equal(e.number, number | 0, (what || 'error number') + ' (' + e.message + ')');
        check.ok(typeof e.description === 'string' && e.description.length > 0, 'the error has a description');
        return e;
      }
      fail((what || 'call') + ' did not throw');
    },
    throws(call, what) {
      try {
        call();
      } catch (e) {
        return e;
      }
      fail((what || 'call') + ' did not throw');
    },
  };

  // Resolves when `condition` holds; polls without guessing how long the host takes.
  function waitFor(condition, what, timeoutMs) {
    const limit = Date.now() + (timeoutMs || 15000);
    return new Promise(function (resolve, reject) {
      (function again() {
        let value;
        try {
          value = condition();
        } catch (e) {
          value = false;
        }
        if (value)
          resolve(value);
        else if (Date.now() > limit)
          reject(new Error('timed out waiting for ' + what));
        else
          setTimeout(again, 20);
      })();
    });
  }

  // The command line as the host gave it: quoted tokens.
  function commandTokens(line) {
    const tokens = [];
    let current = '', quoted = false;
    for (const c of line) {
      if (c === '"') {
        quoted = !quoted;
      } else if (c === ' ' && !quoted) {
        if (current)
          tokens.push(current);
        current = '';
      } else {
        current += c;
      }
    }
    if (current)
      tokens.push(current);
    return tokens;
  }

  // The scratch folder the runner made for this run: the first argument.
  function scratch() {
    const application = document.getElementsByTagName('hta:application')[0] || top.document.getElementsByTagName('hta:application')[0];
    return commandTokens(application.commandLine)[1];
  }

  // The helper library under test: the second argument.
  function helpersLibrary() {
    const application = document.getElementsByTagName('hta:application')[0] || top.document.getElementsByTagName('hta:application')[0];
    return commandTokens(application.commandLine)[2];
  }

  // Writes script elements for the named scripts of the helper library's web application; call
  // it from an inline script while the page is being parsed, so they run before the next script.
  function includeHelperScripts(names) {
    for (const name of names)
      document.write('<script src="res://' + encodeURI(helpersLibrary()) + '/' + name + '"><\/script>');
  }

  function readJsonLines(path) {
    let text = '';
    try {
      text = __tavreloHost.readTextFile(path);
    } catch (e) {
      return [];
    }
    return text.split('\n').filter((line) => line.trim()).map((line) => JSON.parse(line));
  }

  async function run(options) {
    let passed = 0, failed = 0;
    for (const entry of cases) {
      try {
        await entry.body();
        report({ case: entry.name, ok: true });
        passed++;
      } catch (e) {
        report({ case: entry.name, ok: false, message: String((e && e.stack) || e) });
        failed++;
      }
    }
    report({ done: true, passed: passed, failed: failed });
    if (!options || options.close !== false)
      window.close();
  }

  return {
    test(name, body) {
      cases.push({ name: name, body: body });
    },
    check: check,
    waitFor: waitFor,
    report: report,
    scratch: scratch,
    helpersLibrary: helpersLibrary,
    includeHelperScripts: includeHelperScripts,
    commandTokens: commandTokens,
    readJsonLines: readJsonLines,
    run: run,
  };
})();
