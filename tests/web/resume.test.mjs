// Transfers that survive a real phone's network: the page opened at a LAN address (where
// window.isSecureContext is false), a link slowed to 20 Mbit/s whose Wi-Fi drops (LinkProxy), a
// computer that crashes and comes back, a cancel on the desktop, a selection of 501 files.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { readFile, readdir } from 'node:fs/promises';
import path from 'node:path';
import { test } from 'node:test';

import {
    LinkProxy, Receiver, onLANAddress, openPage, pageAddress, recordRowStatuses, rows, slowLink, useBrowser, waitForSummary,
    waitForText,
} from './support.mjs';

const session = useBrowser();

// A receiver behind a link the test controls, and the page opened through that link at 20 Mbit/s.
async function phoneBehindLink(device) {
    const state = { receiver: await Receiver.start({ saveDir: await session.folder('fl-web-save-') }) };
    state.saveDir = state.receiver.saveDir;
    session.defer(() => state.receiver.stop());
    const link = await LinkProxy.start(state.receiver.port);
    session.defer(() => link.stop());
    const page = await openPage(session.context, link.url, { device });
    assert.equal(new URL(page.url()).hostname, pageAddress);
    assert.equal(await page.evaluate(() => window.isSecureContext), !onLANAddress,
        'on a LAN address the page works without a secure context');
    await slowLink(page, 20_000_000);
    await recordRowStatuses(page);
    return { ...state, link, page, state };
}

// The files in a device folder as a user sees them, and the hidden partial files.
async function filesIn(folder, { hidden = false } = {}) {
    return (await readdir(folder).catch(() => [])).filter((name) => name.startsWith('.') === hidden).sort();
}

test('a connection cut mid-upload goes on from the server\'s offset and arrives byte-identical', { timeout: 120000 },
    async () => {
        const device = '断线手机';
        const { receiver, link, saveDir, page } = await phoneBehindLink(device);
        const content = randomBytes(16 * 1024 * 1024 + 7);
        const files = await session.files({ 'video.mp4': content });
        await page.setInputFiles('#files', files.paths);
        await page.click('#uploadBtn');
        await link.waitForBytesUp(content.length * 0.4);
        const afterCut = [];
        page.on('request', (request) => afterCut.push(`${request.method()} ${new URL(request.url()).pathname}`));
        link.cut();
        await waitForSummary(page, '全部完成（1 个文件）', 90000);
        // The server may hold bytes the page never heard of: the retry asks before it sends any.
        assert.equal(afterCut[0], 'GET /v1/upload/resume', afterCut.join(', '));

        assert.ok((await readFile(path.join(saveDir, device, 'video.mp4'))).equals(content), 'byte-identical');
        assert.deepEqual(await filesIn(path.join(saveDir, device)), ['video.mp4']);
        assert.deepEqual(await filesIn(path.join(saveDir, device), { hidden: true }), [], 'no partial file left');
        assert.equal(receiver.lines.filter((line) => line.startsWith('saved ')).length, 1);
        assert.ok((await page.evaluate(() => window.seenStatuses))[0].includes('连接中断，正在重试…'));
        assert.deepEqual((await rows(page)).map((row) => row.status), [`✓ 传输完成 → ${device}/`]);
        // Bytes the phone sent beyond the file (request heads included): what was in flight at the cut.
        const resent = link.bytesUp - content.length;
        console.log(`[ FIGURE ] 16 MiB cut once at 40 %: ${resent} bytes sent beyond the file`);
        assert.ok(resent < content.length * 0.02, `${resent} bytes re-sent`);
    });

test('a 10 s outage mid-file recovers without anyone doing anything', { timeout: 120000 }, async () => {
    const device = '隧道手机';
    const { link, saveDir, page } = await phoneBehindLink(device);
    const content = randomBytes(12 * 1024 * 1024);
    const files = await session.files({ 'long.mov': content });
    await page.setInputFiles('#files', files.paths);
    await page.click('#uploadBtn');
    await link.waitForBytesUp(content.length * 0.3);
    // The Wi-Fi goes for a while: connections break, and every attempt meanwhile is refused.
    link.goDown(10000);
    await waitForText(page, '#queue .status', '连接中断，正在重试…');
    await link.waitFor(() => (link.outage === null ? true : undefined), 60000, 'the link to come back');
    await waitForSummary(page, '全部完成（1 个文件）', 60000);
    assert.ok((await readFile(path.join(saveDir, device, 'long.mov'))).equals(content), 'byte-identical');
    // Waits of 1, 2, 4 … 30 s: a handful of attempts, not one a second.
    console.log(`[ FIGURE ] attempts refused during a 10 s outage: ${link.refused}`);
    assert.ok(link.refused >= 2 && link.refused <= 5, `${link.refused} attempts during the outage`);
});

test('a failed batch\'s retry sends only what did not arrive; nothing arrives twice', { timeout: 150000 },
    async () => {
        const device = '重试手机';
        const { state, link, saveDir, page } = await phoneBehindLink(device);
        const big = randomBytes(6 * 1024 * 1024);
        const files = await session.files({ 'a.txt': 'first', 'b.txt': 'second', 'c.bin': big });
        await page.setInputFiles('#files', files.paths);
        await page.click('#uploadBtn');
        await page.waitForFunction(() => [...document.querySelectorAll('#queue .status')].slice(0, 2)
            .every((status) => status.textContent.startsWith('✓')));
        await link.waitForBytesUp(big.length * 0.3);
        // The computer's FerryLantern crashes mid-file and comes back: it kept nothing to resume.
        await state.receiver.stop('SIGKILL');
        state.receiver = await Receiver.start({ saveDir });
        link.targetPort = state.receiver.port;
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
        assert.deepEqual(await filesIn(path.join(saveDir, device)), ['a.txt', 'b.txt', 'c.bin'], 'no -1 copies');
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
        const files = await session.files({ 'clip.mov': content });
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
    const receiver = await session.receiver();
    const names = Array.from({ length: 501 }, (_, i) => `photo-${String(i).padStart(3, '0')}.txt`);
    const files = await session.files(Object.fromEntries(names.map((name) => [name, `照片 ${name}`])));
    const page = await openPage(session.context, receiver.url, { device });
    const batches = [];
    page.on('request', (request) => {
        if (new URL(request.url()).pathname === '/v1/upload/preflight/batch') {
            batches.push(JSON.parse(request.postData()).files.length);
        }
    });
    await page.setInputFiles('#files', files.paths);
    await page.click('#uploadBtn');
    await waitForSummary(page, '全部完成（501 个文件）', 120000);
    assert.deepEqual(batches, [500, 1]);
    assert.deepEqual(await filesIn(path.join(receiver.saveDir, device)), names);
    await page.close();
});
