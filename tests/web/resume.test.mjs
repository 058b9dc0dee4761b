// Transfers that survive a real phone's network: the page opened at a LAN address (where
// window.isSecureContext is false), a link slowed to 20 Mbit/s whose Wi-Fi drops (LinkProxy), a
// computer that crashes and comes back, a cancel on the desktop, a selection of 501 files.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { readFile, readdir, rm } from 'node:fs/promises';
import path from 'node:path';
import { after, before, test } from 'node:test';

import {
    LinkProxy, Receiver, launchChromium, makeFiles, newPhone, onLANAddress, pageAddress, recordRowStatuses, rows,
    slowLink, temporaryFolder, waitForSummary, waitForText,
} from './support.mjs';

const twentyMegabits = 20_000_000;
let chromium;
let context;
const cleanups = [];

before(async () => {
    chromium = await launchChromium();
    context = await newPhone(chromium.browser);
}, { timeout: 90000 });

after(async () => {
    await chromium?.close();
    for (const cleanup of cleanups.reverse()) await cleanup();
    assert.deepEqual(context?.scriptErrors, []);
}, { timeout: 60000 });

// A receiver behind a link the test controls, and the page opened through that link.
async function phoneBehindLink(device, options = {}) {
    const saveDir = await temporaryFolder('fl-web-save-');
    const receiver = await Receiver.start({ saveDir, ...options });
    const link = await LinkProxy.start(receiver.port);
    cleanups.push(() => rm(saveDir, { recursive: true, force: true }));
    const state = { receiver, link, saveDir };
    cleanups.push(() => state.receiver.stop(), () => link.stop());
    const page = await context.newPage();
    await page.goto(link.url);
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    assert.equal(new URL(page.url()).hostname, pageAddress);
    assert.equal(await page.evaluate(() => window.isSecureContext), !onLANAddress,
        'on a LAN address the page works without a secure context');
    await page.fill('#deviceName', device);
    await slowLink(page, twentyMegabits);
    await recordRowStatuses(page);
    return { ...state, page, state };
}

async function someFiles(contents) {
    const files = await makeFiles(contents);
    cleanups.push(() => rm(files.folder, { recursive: true, force: true }));
    return files;
}

// The files in a device folder as a user sees them (the hidden partial files left out).
async function visibleFiles(folder) {
    return (await readdir(folder).catch(() => [])).filter((name) => !name.startsWith('.')).sort();
}

async function hiddenFiles(folder) {
    return (await readdir(folder).catch(() => [])).filter((name) => name.startsWith('.')).sort();
}

const statusesSeen = (page) => page.evaluate(() => window.seenStatuses);

test('a connection cut mid-upload goes on from the server\'s offset and arrives byte-identical', { timeout: 120000 },
    async () => {
        const device = '断线手机';
        const { receiver, link, saveDir, page } = await phoneBehindLink(device);
        const content = randomBytes(16 * 1024 * 1024 + 7);
        const files = await someFiles({ 'video.mp4': content });
        await page.setInputFiles('#files', files.paths);
        await page.click('#uploadBtn');
        await link.waitForBytesUp(content.length * 0.4);
        link.cut();
        await waitForSummary(page, '全部完成（1 个文件）', 90000);

        assert.ok((await readFile(path.join(saveDir, device, 'video.mp4'))).equals(content), 'byte-identical');
        assert.deepEqual(await visibleFiles(path.join(saveDir, device)), ['video.mp4']);
        assert.deepEqual(await hiddenFiles(path.join(saveDir, device)), [], 'no partial file left');
        assert.equal(receiver.lines.filter((line) => line.startsWith('saved ')).length, 1);
        assert.ok((await statusesSeen(page))[0].includes('连接中断，正在重试…'));
        assert.deepEqual((await rows(page)).map((row) => row.status), [`✓ 传输完成 → ${device}/`]);
        // Bytes the phone sent beyond the file (request heads included): what was in flight at the cut.
        const resent = link.bytesUp - content.length;
        console.log(`[ FIGURE ] 16 MiB cut once at 40 %: ${resent} bytes sent beyond the file`);
        assert.ok(resent < content.length * 0.02, `${resent} bytes re-sent`);
    });

test('a 60 s outage mid-file recovers without anyone doing anything', { timeout: 180000 }, async () => {
    const device = '隧道手机';
    const { link, saveDir, page } = await phoneBehindLink(device);
    const content = randomBytes(12 * 1024 * 1024);
    const files = await someFiles({ 'long.mov': content });
    await page.setInputFiles('#files', files.paths);
    await page.click('#uploadBtn');
    await link.waitForBytesUp(content.length * 0.3);
    // The Wi-Fi goes for a minute: connections break, and every attempt meanwhile is refused.
    link.goDown(60000);
    await waitForText(page, '#queue .status', '连接中断，正在重试…');
    await link.waitFor(() => (link.outage === null ? true : undefined), 120000, 'the link to come back');
    await waitForSummary(page, '全部完成（1 个文件）', 60000);
    assert.ok((await readFile(path.join(saveDir, device, 'long.mov'))).equals(content), 'byte-identical');
    // Waits of 1, 2, 4 … 30 s: a handful of attempts in a minute, not a flood.
    console.log(`[ FIGURE ] attempts refused during a 60 s outage: ${link.refused}`);
    assert.ok(link.refused >= 4 && link.refused <= 10, `${link.refused} attempts during the outage`);
});

test('a failed batch\'s retry sends only what did not arrive; nothing arrives twice', { timeout: 150000 },
    async () => {
        const device = '重试手机';
        const { state, link, saveDir, page } = await phoneBehindLink(device);
        const big = randomBytes(6 * 1024 * 1024);
        const files = await someFiles({ 'a.txt': 'first', 'b.txt': 'second', 'c.bin': big });
        await page.setInputFiles('#files', files.paths);
        await page.click('#uploadBtn');
        await page.waitForFunction(() => [...document.querySelectorAll('#queue .status')].slice(0, 2)
            .every((status) => status.textContent.startsWith('✓')));
        await link.waitForBytesUp(big.length * 0.3);
        // The computer's FerryLantern crashes mid-file and comes back: it kept nothing to resume.
        await state.receiver.kill();
        state.receiver = await Receiver.start({ saveDir });
        link.retarget(state.receiver.port);
        await waitForSummary(page, '完成：成功 2 个，失败 1 个', 90000);
        assert.deepEqual((await rows(page)).map((row) => row.status),
            [`✓ 传输完成 → ${device}/`, `✓ 传输完成 → ${device}/`, '✗ 无法续传，请点重试']);
        assert.equal(await page.textContent('#uploadBtn'), '重试');

        const preflights = [];
        const uploads = [];
        page.on('request', (request) => {
            const url = new URL(request.url());
            if (url.pathname === '/v1/upload/preflight/batch') preflights.push(JSON.parse(request.postData()));
            if (url.pathname === '/v1/upload') uploads.push(url.searchParams.get('filename'));
        });
        await page.click('#uploadBtn');
        await waitForSummary(page, '全部完成（3 个文件）', 60000);
        assert.deepEqual(preflights.map((body) => body.files.map((file) => file.filename)), [['c.bin']]);
        assert.deepEqual([...new Set(uploads)], ['c.bin']);
        assert.deepEqual(await visibleFiles(path.join(saveDir, device)), ['a.txt', 'b.txt', 'c.bin'], 'no -1 copies');
        assert.ok((await readFile(path.join(saveDir, device, 'c.bin'))).equals(big));
        assert.equal(await page.textContent('#uploadBtn'), '开始上传');
    });

test('a cancel on the desktop is shown as a cancel and not tried again', { timeout: 150000 }, async () => {
    const cases = [
        // When the desktop user cancels: while the bytes flow, or while the phone is away.
        { when: 'receiving', device: '取消手机' },
        { when: 'phone away', device: '离开手机' },
    ];
    for (const { when, device } of cases) {
        const { state, link, saveDir, page } = await phoneBehindLink(device);
        const content = randomBytes(8 * 1024 * 1024);
        const files = await someFiles({ 'clip.mov': content });
        await page.setInputFiles('#files', files.paths);
        await page.click('#uploadBtn');
        await link.waitForBytesUp(content.length * 0.3);
        if (when === 'phone away') {
            link.goDown();
            await waitForText(page, '#queue .status', '连接中断，正在重试…');
        }
        const requestsAfterAnswer = [];
        let answered = false;
        page.on('response', (response) => {
            if (new URL(response.url()).pathname === '/v1/upload/resume' && response.status() === 404) answered = true;
        });
        page.on('request', (request) => {
            if (answered && new URL(request.url()).pathname.startsWith('/v1/upload')) {
                requestsAfterAnswer.push(request.url());
            }
        });
        state.receiver.answer('cancel');
        await state.receiver.waitForLine(/^cancelled 1 uploads$/);
        link.goUp();
        await waitForSummary(page, '全部传输失败（1 个）', 60000);
        assert.deepEqual((await rows(page)).map((row) => [row.status, row.tooltip]), [['✗ 已被电脑取消', '传输已取消']],
            when);
        assert.deepEqual(requestsAfterAnswer, [], `${when}: nothing is sent after the desktop's answer`);
        assert.deepEqual(await readdir(path.join(saveDir, device)), [], `${when}: nothing is left`);
        await page.close();
    }
});

test('a selection of 501 files goes as two batches and arrives whole', { timeout: 150000 }, async () => {
    const device = '满载手机';
    const saveDir = await temporaryFolder('fl-web-save-');
    const receiver = await Receiver.start({ saveDir });
    cleanups.push(() => receiver.stop(), () => rm(saveDir, { recursive: true, force: true }));
    const names = Array.from({ length: 501 }, (_, i) => `photo-${String(i).padStart(3, '0')}.txt`);
    const files = await someFiles(Object.fromEntries(names.map((name) => [name, `照片 ${name}`])));
    const page = await context.newPage();
    const batches = [];
    page.on('request', (request) => {
        if (new URL(request.url()).pathname === '/v1/upload/preflight/batch') {
            batches.push(JSON.parse(request.postData()).files.length);
        }
    });
    await page.goto(receiver.url);
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    await page.fill('#deviceName', device);
    await page.setInputFiles('#files', files.paths);
    await page.click('#uploadBtn');
    await waitForSummary(page, '全部完成（501 个文件）', 120000);
    assert.deepEqual(batches, [500, 1]);
    assert.deepEqual(await visibleFiles(path.join(saveDir, device)), names);
    await page.close();
});
