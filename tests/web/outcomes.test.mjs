// How a batch ends when the desktop answers: refused for one file, approved after a wait during which
// the phone's user edits the device name, or a same-name file the desktop user keeps beside the old one.
// A batch refused as a whole is one of the answers in upload.test.mjs.
import assert from 'node:assert/strict';
import { mkdir, readFile, readdir, writeFile } from 'node:fs/promises';
import path from 'node:path';
import { test } from 'node:test';

import { openPage, rows, useBrowser, waitForSummary, waitForText } from './support.mjs';

let files;
const session = useBrowser({
    setUp: async () => {
        files = await session.files({ 'a.txt': 'first', 'b.txt': 'second, new', 'c.txt': 'third' });
    },
});

const openPanel = (receiver, device) => openPage(session.context, receiver.url, { device });

test('one refused duplicate among three gives the mixed summary', { timeout: 45000 }, async () => {
    const receiver = await session.receiver({ onDuplicate: 'cancel' });
    const device = '混合手机';
    const existing = path.join(receiver.saveDir, device, 'b.txt');
    await mkdir(path.dirname(existing));
    await writeFile(existing, 'second, old');

    const page = await openPanel(receiver, device);
    await page.setInputFiles('#files', files.paths);
    await page.click('#uploadBtn');
    await waitForSummary(page, '完成：成功 2 个，失败 1 个');
    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-err');
    assert.equal(await page.textContent('#toast'), '已完成：成功 2，失败 1');
    assert.deepEqual((await rows(page)).map((row) => [row.name, row.status, row.classes]), [
        ['a.txt', `✓ 传输完成 → ${device}/`, 'done'],
        ['b.txt', '✗ 传输失败', 'err'],
        ['c.txt', `✓ 传输完成 → ${device}/`, 'done'],
    ]);
    assert.equal(await readFile(existing, 'utf8'), 'second, old');
    assert.deepEqual((await readdir(path.dirname(existing))).sort(), ['a.txt', 'b.txt', 'c.txt']);
    await receiver.waitForLine(/^failed b\.txt from 混合手机$/);
    await page.close();
});

test('a batch waits for the desktop and uploads under the name it was approved for', { timeout: 60000 }, async () => {
    const receiver = await session.receiver({ confirm: 'ask' });
    const page = await openPanel(receiver, '等待手机');
    await page.setInputFiles('#files', files.paths.slice(0, 2));
    await page.click('#uploadBtn');
    await receiver.waitForPrompt('[y/N]');

    await waitForSummary(page, '等待 Mac 确认 2 个文件…');
    assert.deepEqual((await rows(page)).map((row) => [row.status, row.pct, row.classes]),
        [['等待 Mac 确认…', '—', 'waiting'], ['等待 Mac 确认…', '—', 'waiting']]);
    assert.equal(await page.isDisabled('#uploadBtn'), true);
    assert.equal(await page.$eval('.file-item.waiting .file-meta', (meta) => getComputedStyle(meta).color),
        'rgb(251, 191, 36)');

    // The user changes the name while the desktop decides; the approved batch keeps its folder.
    await page.fill('#deviceName', '改名手机');
    receiver.answer('y');
    await waitForSummary(page, '全部完成（2 个文件）');
    assert.deepEqual((await rows(page)).map((row) => row.status),
        ['✓ 传输完成 → 等待手机/', '✓ 传输完成 → 等待手机/']);
    assert.deepEqual(await readdir(receiver.saveDir), ['等待手机']);
    await page.close();
});

test('a same-name file waits for the desktop, then shows the name it was saved under', { timeout: 60000 },
    async () => {
        const receiver = await session.receiver({ onDuplicate: 'ask' });
        const device = '同名手机';
        await mkdir(path.join(receiver.saveDir, device));
        await writeFile(path.join(receiver.saveDir, device, 'photo.jpg'), 'the old photo');
        const photo = Buffer.alloc(300 * 1024, 7);
        const picked = await session.files({ 'photo.jpg': photo });

        const page = await openPanel(receiver, device);
        await page.setInputFiles('#files', picked.paths);
        await page.click('#uploadBtn');
        await receiver.waitForPrompt('[o/K/c]');
        // The first bytes are sent and the computer's user decides: the row says so, not "100%".
        await waitForText(page, '#queue .status', '等待电脑确认…');
        assert.deepEqual((await rows(page)).map((row) => row.classes), ['waiting']);
        receiver.answer('k');
        await waitForSummary(page, '全部完成（1 个文件）');
        assert.deepEqual((await rows(page)).map((row) => row.status), [`✓ 传输完成 → ${device}/photo-1.jpg`]);
        assert.equal(await readFile(path.join(receiver.saveDir, device, 'photo.jpg'), 'utf8'), 'the old photo');
        assert.ok(photo.equals(await readFile(path.join(receiver.saveDir, device, 'photo-1.jpg'))));
        await page.close();
    });
