// A web page of another site, open in the desktop user's own browser, must not be able to send files
// or PIN guesses to FerryLantern through that browser, however it dresses the request up; nor may a
// name that someone points at 127.0.0.1 (DNS rebinding) reach it. The receivers run without a PIN
// (the worst case) and with one. And the receiving computer's name, filled into the page's title, its
// intro and a string of its script, shows literally whatever it holds and leaves markup and script alone.
import assert from 'node:assert/strict';
import { createServer } from 'node:http';
import { once } from 'node:events';
import { test } from 'node:test';

import { entriesUnder, openPage, rows, useBrowser, waitForSummary } from './support.mjs';

// Every way a page can send a POST to another origin: fetch in no-cors mode (a "simple" request,
// sent without asking), fetch with JSON (asks first with OPTIONS), a form posted into a frame.
const attackPage = (target) => `<!doctype html><meta charset="utf-8"><body><script>
const target = ${JSON.stringify(target)};
const results = {};
const attempt = async (name, run) => {
  try { results[name] = await run(); } catch (error) { results[name] = 'error'; }
};
const status = (response) => (response.type === 'opaque' ? 'opaque' : response.status);
(async () => {
  await attempt('plain text upload', () => fetch(target + 'v1/upload?filename=plain.sh&device=site',
      { method: 'POST', mode: 'no-cors', headers: { 'Content-Type': 'text/plain' }, body: 'echo pwned' }).then(status));
  await attempt('cors upload', () => fetch(target + 'v1/upload?filename=cors.sh&device=site',
      { method: 'POST', body: new Blob(['echo pwned']) }).then(status));
  await attempt('json preflight', async () => {
    const response = await fetch(target + 'v1/upload/preflight/batch', { method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ device: 'site', files: [{ filename: 'batch.sh', byteCount: 10 }] }) });
    if (response.status !== 200) return response.status;
    const ticket = (await response.json()).items[0].uploadId;
    const upload = await fetch(target + 'v1/upload?filename=batch.sh&device=site&uploadId=' + ticket,
      { method: 'POST', body: 'echo pwned' });
    return 'uploaded ' + upload.status;
  });
  await attempt('pin verify', () => fetch(target + 'v1/pin/verify', { method: 'POST',
      headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ pin: '2468' }) }).then(status));
  await attempt('pin verify no-cors', () => fetch(target + 'v1/pin/verify', { method: 'POST', mode: 'no-cors',
      headers: { 'Content-Type': 'text/plain' }, body: JSON.stringify({ pin: '2468' }) }).then(status));
  await attempt('form post', () => new Promise((resolve) => {
    const frame = document.createElement('iframe');
    frame.name = 'sink';
    frame.onload = () => resolve('posted');
    document.body.append(frame);
    const form = document.createElement('form');
    form.method = 'POST';
    form.enctype = 'multipart/form-data';
    form.action = target + 'v1/upload?device=site';
    form.target = 'sink';
    const input = document.createElement('input');
    input.type = 'hidden';
    input.name = 'file';
    input.value = 'echo pwned';
    form.append(input);
    document.body.append(form);
    form.submit();
  }));
  window.results = results;
})();
</script>`;

const hostileName = 'Tom & "Jerry" <b>x</b> \'q\' C:\\new </script><script>window.injected = 1</script>'
    + ' {{DEVICE_NAME}}\'; window.injected = 2; // \u2028 end\nsecond line';
// A document title collapses runs of ASCII white space.
const asTitle = (text) => text.replace(/[\t\n\f\r ]+/g, ' ').trim();

let open;
let guarded;
let named;
let site;
const session = useBrowser({
    // evil.example resolves to this machine, as a rebinding attacker's name would.
    extraArgs: ['--host-resolver-rules=MAP evil.example 127.0.0.1'],
    async setUp() {
        open = await session.receiver();
        guarded = await session.receiver({ pin: '2468' });
        named = await session.receiver({ name: hostileName });
        // The other site: its own origin on another loopback address.
        site = createServer((request, response) => {
            const target = request.url === '/guarded' ? guarded.url : open.url;
            response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' }).end(attackPage(target));
        });
        site.listen(0, '127.0.0.2');
        await once(site, 'listening');
        session.defer(() => site.close());
    },
});

async function runAttack(path) {
    const context = await session.browser.newContext();
    const page = await context.newPage();
    await page.goto(`http://127.0.0.2:${site.address().port}${path}`);
    await page.waitForFunction(() => window.results !== undefined, null, { timeout: 20000 });
    const results = await page.evaluate(() => window.results);
    await context.close();
    return results;
}

test('a page of another site can neither upload nor verify a PIN through the browser', { timeout: 60000 },
    async () => {
        for (const path of ['/open', '/guarded']) {
            const results = await runAttack(path);
            // What the page could read is a refusal; the rest it could not read at all.
            for (const [name, result] of Object.entries(results)) {
                assert.ok([403, 'opaque', 'error', 'posted'].includes(result), `${path} ${name}: ${result}`);
            }
        }
        assert.deepEqual(await entriesUnder(open.saveDir), []);
        assert.deepEqual(await entriesUnder(guarded.saveDir), []);
        assert.deepEqual(open.lines.filter((line) => line.startsWith('saved ')), []);
        // The PIN guesses were refused before they counted: the right PIN still works at once.
        const verify = await fetch(`${guarded.url}v1/pin/verify`, { method: 'POST', body: '{"pin":"2468"}' });
        assert.equal(verify.status, 200);
    });

test('a name pointed at this machine (DNS rebinding) gets nothing', { timeout: 30000 }, async () => {
    const context = await session.browser.newContext();
    const page = await context.newPage();
    const response = await page.goto(`http://evil.example:${open.port}/`);
    assert.equal(response.status(), 421);
    const upload = await page.evaluate(async () => (await fetch('/v1/upload?filename=rebound.sh&device=site',
        { method: 'POST', body: 'echo pwned' })).status);
    assert.equal(upload, 421);
    await context.close();
    assert.deepEqual(await entriesUnder(open.saveDir), []);
});

test('the page as sent shows the name literally and says what to do without JavaScript; the script shows it ' +
    'literally too and uploads', { timeout: 45000 }, async () => {
    const context = await session.browser.newContext({ javaScriptEnabled: false });
    const plain = await context.newPage();
    await plain.goto(named.url);
    assert.equal(await plain.title(), asTitle(`传到 ${hostileName}`));
    assert.equal(await plain.textContent('#pageIntro strong'), hostileName);
    assert.equal(await plain.textContent('#pageIntro'), `将文件传到 ${hostileName}。`);
    assert.equal(await plain.locator('script').count(), 1);
    assert.match(await plain.textContent('noscript'), /需要 JavaScript.*开启 JavaScript，然后刷新页面/);
    assert.equal(await plain.isVisible('.noscript'), true);
    assert.equal(await plain.isVisible('#uploadPanel'), false);
    await context.close();

    const files = await session.files({ 'name-test.txt': 'still works' });
    const page = await openPage(session.context, named.url, { device: '名字测试' });
    assert.equal(await page.textContent('#pageIntro'), `将文件传到 ${hostileName}。选择文件后点「开始上传」。`);
    assert.equal(await page.textContent('#pageIntro strong'), hostileName);
    assert.equal(await page.$$eval('#pageIntro *', (elements) => elements.length), 1);
    assert.equal(await page.evaluate(() => window.injected), undefined);
    assert.equal(await page.title(), asTitle(`传到 ${hostileName}`));

    await page.setInputFiles('#files', files.paths);
    await page.click('#uploadBtn');
    await waitForSummary(page, '全部完成（1 个文件）');
    assert.deepEqual((await rows(page)).map((row) => row.status), ['✓ 传输完成 → 名字测试/']);
    await page.close();
});
