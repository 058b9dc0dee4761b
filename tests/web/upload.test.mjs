// The upload flow without a PIN: selection, batch preflight, parallel uploads, row and summary texts,
// and the answers of a preflight that the page cannot use.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { readFile, rm } from 'node:fs/promises';
import path from 'node:path';
import { after, before, test } from 'node:test';

import {
    tearDown,
    Receiver, launchChromium, makeFiles, newPhone, openPage, rows, screenshot, temporaryFolder, waitForSummary,
} from './support.mjs';

const device = '测试手机';
let saveDir;
let receiver;
let chromium;
let context;
const requestedPaths = [];

before(async () => {
    saveDir = await temporaryFolder('fl-web-save-');
    receiver = await Receiver.start({ saveDir });
    chromium = await launchChromium();
    context = await newPhone(chromium.browser);
    context.on('request', (request) => requestedPaths.push(new URL(request.url()).pathname));
}, { timeout: 90000 });

after(async () => {
    await tearDown({ chromium, receiver, folders: [saveDir] });
    // Nothing in this file needs a PIN, so nothing may have asked for one.
    assert.ok(!requestedPaths.includes('/v1/pin/verify'), 'the page never verifies a PIN the server does not want');
    assert.deepEqual(context?.scriptErrors, []);
}, { timeout: 30000 });

async function openPanel() {
    const page = await openPage(context, receiver.url);
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    return page;
}

test('without a PIN the upload panel shows at once', { timeout: 30000 }, async () => {
    const page = await openPanel();
    assert.equal(await page.locator('#pinGate').isVisible(), false);
    assert.equal(await page.textContent('#pageIntro'), '将文件传到 测试电脑。选择文件后点「开始上传」。');
    assert.equal(await page.textContent('#pageIntro strong'), '测试电脑');
    assert.ok(requestedPaths.includes('/v1/info'));
    await page.close();
});

test('a blank device name or an empty selection blocks the start', { timeout: 30000 }, async () => {
    const page = await openPanel();
    await page.fill('#deviceName', '   ');
    await page.click('#uploadBtn');
    await waitForSummary(page, '请填写本机名称后再上传');
    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-err');
    const field = await page.$eval('#deviceName', (input) => ({
        invalid: input.classList.contains('device-invalid'),
        focused: document.activeElement === input,
        border: getComputedStyle(input).borderTopColor,
    }));
    assert.deepEqual(field, { invalid: true, focused: true, border: 'rgb(248, 113, 113)' });

    await page.fill('#deviceName', 'x');
    assert.equal(await page.$eval('#deviceName', (input) => input.classList.contains('device-invalid')), false);
    await page.click('#uploadBtn');
    await waitForSummary(page, '请先选择文件');
    assert.ok(!requestedPaths.includes('/v1/upload/preflight/batch'));
    await page.close();
});

test('three files arrive byte-identical in the device folder', { timeout: 90000 }, async () => {
    const contents = {
        'clip.bin': randomBytes(6 * 1024 * 1024 + 123),
        '照片 一.txt': Buffer.from('第一张照片的说明\n'),
        'notes.txt': Buffer.from('hello'),
    };
    const files = await makeFiles(contents);
    const page = await openPanel();
    await page.fill('#deviceName', `  ${device} `);
    await page.setInputFiles('#files', files.paths);
    await waitForSummary(page, '已选择 3 个文件，点「开始上传」并行传输');
    assert.deepEqual((await rows(page)).map((row) => [row.name, row.status, row.pct]),
        Object.keys(contents).map((name) => [name, '等待上传', '0%']));

    // Every status a row passes through, in the order seen.
    await page.evaluate(() => {
        window.seenStatuses = [];
        new MutationObserver(() => {
            for (const status of document.querySelectorAll('#queue .status')) {
                if (window.seenStatuses.at(-1) !== status.textContent) window.seenStatuses.push(status.textContent);
            }
        }).observe(document.getElementById('queue'), { subtree: true, childList: true, characterData: true });
    });
    await page.click('#uploadBtn');
    await waitForSummary(page, '全部完成（3 个文件）', 60000);

    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-ok');
    assert.deepEqual((await rows(page)).map((row) => [row.status, row.pct, row.classes]),
        Object.keys(contents).map(() => [`✓ 传输完成 → ${device}/`, '100%', 'done']));
    assert.equal(await page.textContent('#toast'), '全部 3 个文件已传到 Mac');
    assert.ok(await page.$eval('#toast', (toast) => toast.classList.contains('show')));
    assert.equal(await page.isEnabled('#uploadBtn'), true);
    const seen = await page.evaluate(() => window.seenStatuses);
    for (const status of ['等待 Mac 确认…', '准备上传', '上传中']) {
        assert.ok(seen.includes(status), `rows passed through ${status}: ${seen.join(' | ')}`);
    }
    await screenshot(page, 'finished-batch.png');

    for (const [name, content] of Object.entries(contents)) {
        const saved = path.join(saveDir, device, name);
        assert.ok(content.equals(await readFile(saved)), `${name} arrived byte-identical`);
        await receiver.waitForLine(new RegExp(`^saved ${saved.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')} \\(`));
    }

    await page.reload();
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    assert.equal(await page.inputValue('#deviceName'), device);
    await page.close();
    await rm(files.folder, { recursive: true, force: true });
});

test('a selection holding an empty file is refused as a whole', { timeout: 30000 }, async () => {
    const files = await makeFiles({ 'empty.txt': '', 'full.txt': 'data' });
    const page = await openPanel();
    await page.fill('#deviceName', device);
    await page.setInputFiles('#files', files.paths);
    await page.click('#uploadBtn');
    await waitForSummary(page, '传输失败');
    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-err');
    assert.deepEqual((await rows(page)).map((row) => [row.status, row.pct, row.classes]),
        [['✗ 无效的文件大小', '—', 'err'], ['✗ 无效的文件大小', '—', 'err']]);
    assert.equal(await page.textContent('#toast'), '本批文件均未传到 Mac');
    await assert.rejects(readFile(path.join(saveDir, device, 'full.txt')), { code: 'ENOENT' });
    await page.close();
    await rm(files.folder, { recursive: true, force: true });
});

test('a preflight answer the page cannot use fails every row and starts no upload', { timeout: 60000 }, async () => {
    const files = await makeFiles({ 'a.txt': 'a', 'b.txt': 'b' });
    const cases = [
        { answer: { status: 200, body: '{"approved":true,"items":[{"uploadId":"X","filename":"a.txt"}]}' },
            shown: '✗ 预检响应不完整' },
        { answer: { status: 200, body: '<html>' }, shown: '✗ 预检响应格式错误' },
        { answer: { status: 500, body: '' }, shown: '✗ 预检失败' },
        { answer: { status: 400, body: 'Mac 已拒绝' }, shown: '✗ 传输失败' },
    ];
    const page = await openPanel();
    let uploads = 0;
    page.on('request', (request) => {
        if (new URL(request.url()).pathname === '/v1/upload') uploads += 1;
    });
    await page.fill('#deviceName', device);
    await page.setInputFiles('#files', files.paths);
    for (const { answer, shown } of cases) {
        await page.route('**/v1/upload/preflight/batch', (route) => route.fulfill(answer));
        await page.click('#uploadBtn');
        await waitForSummary(page, '传输失败');
        assert.deepEqual((await rows(page)).map((row) => row.status), [shown, shown], JSON.stringify(answer));
        await page.waitForFunction(() => !document.getElementById('uploadBtn').disabled);
        await page.unroute('**/v1/upload/preflight/batch');
    }
    assert.equal(uploads, 0);
    await page.close();
    await rm(files.folder, { recursive: true, force: true });
});

test('a page that could not ask for info shows the gate, which a server without PIN lets through',
    { timeout: 30000 }, async () => {
        const phone = await newPhone(chromium.browser);
        const page = await phone.newPage();
        await page.route('**/v1/info', (route) => route.abort());
        await page.goto(receiver.url);
        await page.locator('#pinGate').waitFor({ state: 'visible' });
        assert.equal(await page.textContent('#pinError'), '无法连接 Mac，请检查网络');
        await page.keyboard.type('0000');
        await page.locator('#uploadPanel').waitFor({ state: 'visible' });
        assert.equal(await page.evaluate(() => sessionStorage.getItem('ferrylantern-session')), null);
        assert.deepEqual(phone.scriptErrors, []);
        await phone.close();
    });
