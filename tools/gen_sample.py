#!/usr/bin/env python3
"""Generates sample Belmire source databases and empty Quorvan target databases (SQLite).

Usage (from the project root):
    python3 tools/gen_sample.py --family v67 --size 1000 --out /tmp/v67.db [--seed 1] [--mess]
    python3 tools/gen_sample.py --family v1 --size 100000 --out /tmp/v1.db
    python3 tools/gen_sample.py --target /tmp/target.db

A source database is created afresh from schema/source_<family>_sqlite.sql and filled with
shop data: warehouses, goods areas, a category tree that follows the level setting, suppliers
with their categories, products with units, prices and one to three bar codes, stock per
product and warehouse, and members. --size N gives N products and N members; the other tables
scale with it. The same seed and size always give the same data.

The data holds the small untidiness of real shops (blanks around a few codes, NULL in optional
fields, a few names and specifications longer than the target columns) but no repeated key.
--mess adds repeated product codes and bar codes and a member card that occurs twice.

--target creates an empty target database from schema/target_sqlite.sql (with its store row
and its settings row). Both kinds can be made in one call. One summary line goes to stderr.
"""

import argparse
import math
import os
import random
import sqlite3
import sys
import time

SCHEMA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "schema")

PRODUCT_LEVELS = "2220"   # bytes per category level; a 0 ends the levels in use
SUPPLIER_LEVELS = "22"

SALE_MODES = ["经销", "代销", "联营", "租赁"]
SALE_MODE_WEIGHTS = [70, 15, 10, 5]

# One family per top-level category: name, product kinds, brands, units, specifications,
# retail price range, sold by weight, VAT rate in percent.
FAMILIES = [
    ("休闲食品", ["薯片", "夹心饼干", "瓜子", "威化饼", "果冻", "牛肉干", "花生", "巧克力", "奶糖", "蛋黄派"],
     ["乐事", "奥利奥", "洽洽", "旺旺", "徐福记", "好丽友", "达利园", "盼盼"],
     ["袋", "盒", "包", "个"], ["70g", "104g", "150g", "200g", "250g", "500g", "6枚装"], (1.5, 45.0), False, 17),
    ("饮料", ["纯净水", "矿泉水", "绿茶", "冰红茶", "橙汁", "可乐", "雪碧", "酸奶", "纯牛奶", "咖啡"],
     ["农夫山泉", "康师傅", "统一", "娃哈哈", "可口可乐", "百事", "蒙牛", "伊利", "光明", "雀巢"],
     ["瓶", "罐", "盒", "听"], ["330ml", "500ml", "550ml", "600ml", "1.25L", "2L", "250ml*12"], (1.0, 60.0),
     False, 17),
    ("酒类", ["啤酒", "干红葡萄酒", "白酒", "黄酒", "米酒"],
     ["青岛", "雪花", "燕京", "张裕", "长城", "五粮液", "古越龙山", "牛栏山"],
     ["瓶", "听", "箱"], ["330ml", "500ml", "750ml", "52度500ml", "640ml"], (2.5, 980.0), False, 17),
    ("粮油调味", ["大米", "面粉", "花生油", "调和油", "酱油", "米醋", "味精", "食盐", "挂面", "辣椒酱"],
     ["金龙鱼", "福临门", "鲁花", "海天", "李锦记", "恒顺", "太太乐", "中粮"],
     ["袋", "瓶", "桶", "包"], ["500g", "1kg", "5kg", "10kg", "1.8L", "5L", "500ml"], (1.2, 150.0), False, 13),
    ("日化用品", ["洗发水", "沐浴露", "牙膏", "香皂", "洗衣粉", "洗洁精", "卫生纸", "抽纸", "洗衣液", "护手霜"],
     ["海飞丝", "飘柔", "舒肤佳", "高露洁", "佳洁士", "立白", "汰渍", "雕牌", "维达", "心相印"],
     ["瓶", "支", "块", "袋", "提"], ["200ml", "400ml", "750ml", "120g", "1kg", "10卷"], (2.0, 89.0), False, 17),
    ("生鲜", ["苹果", "香蕉", "西红柿", "黄瓜", "猪肉", "鸡蛋", "草鱼", "土豆", "大白菜", "牛肉"],
     ["", "本地", "精品", "有机", "散装"],
     ["公斤"], [""], (1.0, 80.0), True, 13),
    ("家居用品", ["保鲜膜", "垃圾袋", "毛巾", "拖鞋", "衣架", "水杯", "饭盒", "电池", "雨伞"],
     ["妙洁", "茶花", "南孚", "洁丽雅", "天堂", "乐扣"],
     ["个", "卷", "条", "双", "只", "包"], ["大号", "中号", "30cm*20m", "5号4粒", "10只装"], (2.0, 69.0), False, 17),
    ("文具", ["中性笔", "笔记本", "铅笔", "橡皮", "胶带", "文件夹"],
     ["晨光", "得力", "真彩", "齐心"],
     ["支", "本", "个", "盒"], ["0.5mm", "A5", "B5", "12支装"], (0.5, 30.0), False, 17),
    ("母婴用品", ["纸尿裤", "奶粉", "湿巾", "奶瓶"],
     ["帮宝适", "好奇", "贝因美", "飞鹤"],
     ["包", "罐", "个"], ["L码36片", "900g", "80片", "240ml"], (9.9, 398.0), False, 17),
]
QUALIFIERS = {"休闲食品": ["原味", "香辣", "草莓味", "低糖", "家庭装", "经典"],
              "饮料": ["低糖", "清爽", "原味", "家庭装", "特浓"],
              "酒类": ["精装", "经典", "纯生", "珍藏"],
              "粮油调味": ["精选", "特级", "家庭装", "一级"],
              "日化用品": ["清爽", "去屑", "柔顺", "薄荷", "家庭装"],
              "生鲜": ["新鲜", "精品", "冷鲜"],
              "家居用品": ["加厚", "家用", "经典"],
              "文具": ["学生", "办公", "经典"],
              "母婴用品": ["婴儿", "超薄", "加大"]}
LONG_MODELS = ["330ml*24听整箱", "500ml*12瓶/箱", "2.5kg*4袋/件", "100抽*3包/提"]
LONG_UNITS = ["公斤装袋", "个(大号)"]

CITIES = ["上海", "北京", "杭州", "南京", "苏州", "广州", "深圳", "成都", "武汉", "石家庄", "哈尔滨", "宁波",
          "无锡", "青岛", "厦门", "乌鲁木齐"]
PROVINCES = ["上海", "北京", "浙江杭州", "江苏南京", "江苏苏州", "广东广州", "广东深圳", "四川成都", "湖北武汉",
             "河北石家庄", "山东青岛", "福建厦门", "新疆乌鲁木齐"]
DISTRICTS = {"上海": ["浦东新区", "闵行区", "徐汇区"], "北京": ["朝阳区", "海淀区"], "浙江杭州": ["西湖区", "拱墅区"],
             "江苏南京": ["鼓楼区", "玄武区"], "江苏苏州": ["姑苏区", "工业园区"], "广东广州": ["天河区", "越秀区"],
             "广东深圳": ["南山区", "福田区"], "四川成都": ["武侯区", "锦江区"], "湖北武汉": ["江汉区", "武昌区"],
             "河北石家庄": ["长安区", "桥西区"], "山东青岛": ["市南区", "崂山区"], "福建厦门": ["思明区", "湖里区"],
             "新疆乌鲁木齐": ["天山区", "经济技术开发区"]}
ROADS = ["人民路", "解放路", "中山路", "建设路", "长江路", "和平路", "张杨路", "淮海中路", "学府路", "新华大街"]
ESTATES = ["阳光花园", "锦绣苑", "翠湖小区", "幸福里", "金色家园", "绿地新城", "世纪花城", "东方明珠苑"]
COMPANY_CORES = ["光明", "华联", "联华", "金穗", "鑫源", "恒通", "万家", "永辉", "百信", "宏达", "润发", "顺丰",
                 "天福", "嘉华", "康乐", "福满多"]
COMPANY_SUFFIXES = ["商贸公司", "食品厂", "贸易公司", "批发部", "经营部", "商行", "有限公司", "商贸有限公司",
                    "食品饮料销售有限责任公司"]
BANKS = ["中国工商银行", "中国农业银行", "中国银行", "中国建设银行", "交通银行", "招商银行"]
SURNAMES = ["王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周", "徐", "孙", "马", "朱", "胡", "郭", "何", "林",
            "罗", "高", "郑", "梁", "谢", "宋", "唐", "许", "韩", "冯", "邓", "曹", "欧阳", "司马", "诸葛"]
GIVEN = ["伟", "芳", "娜", "敏", "静", "丽", "强", "磊", "军", "洋", "勇", "艳", "杰", "娟", "涛", "明", "超", "秀英",
         "霞", "平", "刚", "桂英", "建国", "志强", "海燕", "晓东", "子涵", "欣怡", "浩然", "雨轩"]
LONG_NAMES = ["阿依古丽·买买提", "欧阳建国经理", "司马慧敏女士", "热依拉·阿不都"]
WAREHOUSE_NUMERALS = ["一", "二", "三", "四", "五", "六", "七", "八", "九", "十", "十一", "十二", "十三", "十四",
                      "十五", "十六", "十七", "十八", "十九", "二十"]
AREA_NAMES = ["一楼食品区", "一楼日化区", "二楼家居区", "生鲜区", "烟酒专柜", "收银台前端", "进口食品区", "粮油区",
              "冷冻柜", "散装称重区", "母婴区", "文具柜", "特价堆头", "饮料区", "休闲食品区"]
LONG_AREA_NAME = "一楼东侧进口食品及酒水饮料区"
LONG_WAREHOUSE_NAME = "超市配送中心常温商品总仓库"
CARD_MEDIA = ["磁条卡", "IC卡", "条码卡"]
ODD_STATES = ["挂失", "停用", "冻结", "正常 "]


def gbk_len(text):
    return len(text.encode("gbk"))


def ean13(body12):
    """Bar code with its check digit: weights 1 and 3 alternating from the left."""
    total = sum(int(c) * (3 if i % 2 else 1) for i, c in enumerate(body12))
    return body12 + str((10 - total % 10) % 10)


def id_card(rng, birthday):
    """18-character identity-card number with the ISO 7064 MOD 11-2 check character."""
    body = "%06d%s%03d" % (rng.choice([310115, 110105, 330106, 320102, 440106, 510107]),
                           birthday.replace("-", ""), rng.randrange(1000))
    weights = [7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2]
    return body + "10X98765432"[sum(int(c) * w for c, w in zip(body, weights)) % 11]


def money(value, places=2):
    return round(value, places)


class World:
    """The shop, independent of the source schema; the writers map it to V6/V7 or V1 tables."""

    def __init__(self, size, seed, mess):
        self.rng = random.Random(seed)
        self.size = size
        self.mess = mess
        self._make_warehouses()
        self._make_areas()
        self.categories = self._make_tree(max(5, size // 50), PRODUCT_LEVELS, self._category_name)
        self.supplier_categories = self._make_tree(max(3, min(60, max(3, size // 200) // 4 + 2)), SUPPLIER_LEVELS,
                                                   self._supplier_category_name)
        self._make_suppliers()
        self._make_products()
        self._make_stock()
        self._make_members()

    # A few codes carry blanks around them, as typed in by hand.
    def _pad(self, code, rate):
        if self.rng.random() < rate:
            return self.rng.choice([" ", "", "\t"]) + code + self.rng.choice([" ", "  "])
        return code

    def _make_warehouses(self):
        count = min(20, max(3, 3 + self.size // 10000))
        names = [WAREHOUSE_NUMERALS[i] + "号仓库" for i in range(count)]
        names[-1] = "  退货仓库"
        if count >= 4:
            names[2] = LONG_WAREHOUSE_NAME
        # Codes of at most 3 bytes: warehouse stock keeps only 3 bytes of the code.
        self.warehouses = [("%02d" % (i + 1), names[i]) for i in range(count)]

    def _make_areas(self):
        count = min(30, max(3, 3 + self.size // 5000))
        names = [AREA_NAMES[i % len(AREA_NAMES)] + ("" if i < len(AREA_NAMES) else str(i // len(AREA_NAMES) + 1))
                 for i in range(count)]
        names[-1] = LONG_AREA_NAME
        self.areas = [("%02d" % (i + 1), names[i]) for i in range(count)]
        # One code typed with blanks around it; products refer to it the same way.
        self.areas[min(2, count - 1)] = (" %02d " % (min(2, count - 1) + 1), self.areas[min(2, count - 1)][1])

    def _category_name(self, level, family, index, kind):
        if level == 1:
            cycle = index // len(FAMILIES)
            return FAMILIES[family][0] if cycle == 0 else "%s%d" % (FAMILIES[family][0], cycle + 1)
        if level == 2:
            return kind + "类"
        return self.rng.choice(["袋装", "散装", "进口", "礼盒", "普通", "特价"]) + kind

    def _supplier_category_name(self, level, family, index, kind):
        if level == 1:
            return ["本地供应商", "外地供应商", "厂家直供", "代理商", "个体批发"][index % 5] + \
                ("" if index < 5 else str(index // 5 + 1))
        return FAMILIES[family][0] + ["供应商", "经销商", "厂家"][index % 3]

    def _make_tree(self, count, levels, namer):
        """Category tree by code prefix: level k adds levels[k-1] digits to the parent's code."""
        widths = []
        for c in levels:
            if c == "0":
                break
            widths.append(int(c))
        depth = len(widths)
        weights = [3 ** k for k in range(depth)]
        per_level = [max(1, int(count * w / sum(weights))) for w in weights]
        # Enough top levels for several product families even in small samples.
        per_level[0] = min(10 ** widths[0] - 1, max(2, per_level[0], min(len(FAMILIES), count // 3)))
        for k in range(1, depth):
            per_level[k] = min(per_level[k], per_level[k - 1] * (10 ** widths[k] - 1))
        per_level[-1] = max(1, count - sum(per_level[:-1]))
        per_level[-1] = min(per_level[-1], (10 ** widths[-1] - 1) * (per_level[-2] if depth > 1 else 1))

        nodes = []   # dicts: code, name, level, parent code ("" at the top), family, kind, leaf
        previous = []
        for level, (width, n) in enumerate(zip(widths, per_level), start=1):
            current = []
            children = {}
            for i in range(n):
                if level == 1:
                    code, parent, family, kind = "%0*d" % (width, i + 1), "", i % len(FAMILIES), None
                else:
                    up = previous[i % len(previous)]
                    children[up["code"]] = children.get(up["code"], 0) + 1
                    code = up["code"] + "%0*d" % (width, children[up["code"]])
                    parent, family = up["code"], up["family"]
                    # A second-level category stands for one kind of product, its children share it.
                    kind = up["kind"] or FAMILIES[family][1][(children[up["code"]] - 1) % len(FAMILIES[family][1])]
                node = {"code": code, "name": namer(level, family, i, kind), "level": level, "parent": parent,
                        "family": family, "kind": kind, "leaf": True}
                if level > 1:
                    up["leaf"] = False
                current.append(node)
            nodes.extend(current)
            previous = current
        for node in nodes:
            # Hand-typed names sometimes end in blanks.
            if self.rng.random() < 0.02:
                node["name"] += " "
        return nodes

    def _company_name(self):
        rng = self.rng
        return rng.choice(CITIES) + rng.choice(COMPANY_CORES) + rng.choice(COMPANY_SUFFIXES)

    def _person(self):
        rng = self.rng
        if rng.random() < 0.01:
            return rng.choice(LONG_NAMES)
        return rng.choice(SURNAMES) + rng.choice(GIVEN)

    def _address(self):
        rng = self.rng
        province = rng.choice(PROVINCES)
        text = "%s%s%s%d号" % (province, rng.choice(DISTRICTS[province]), rng.choice(ROADS), rng.randint(1, 2999))
        if rng.random() < 0.2:
            text += "%s%d栋%d室" % (rng.choice(ESTATES), rng.randint(1, 30), rng.randint(101, 2802))
        return text

    def _phone(self, mobile):
        rng = self.rng
        if mobile:
            return rng.choice(["13", "15", "18", "17"]) + "%09d" % rng.randrange(10 ** 9)
        return rng.choice(["021-", "010-", "0571-", "025-", "020-"]) + "%08d" % rng.randrange(10 ** 7, 10 ** 8)

    def _make_suppliers(self):
        rng = self.rng
        count = max(3, self.size // 200)
        width = max(4, len(str(count)))
        leaves = [c for c in self.supplier_categories if c["leaf"]]
        self.suppliers = []
        for i in range(count):
            category = leaves[i % len(leaves)] if i < len(leaves) else rng.choice(leaves)
            mode = rng.choices(SALE_MODES, SALE_MODE_WEIGHTS)[0]
            optional = lambda value, rate=0.1: None if rng.random() < rate else value
            self.suppliers.append({
                "code": "%0*d" % (width, i + 1),
                "name": self._company_name(),
                "category": category["code"],
                "mode": mode,
                "fax": optional(self._phone(False), 0.3),
                "phone": self._phone(rng.random() < 0.4),
                "address": optional(self._address()),
                "manager": optional(self._person(), 0.3),
                "bank": optional(rng.choice(BANKS) + rng.choice(CITIES) + rng.choice(["分行", "支行", "营业部"])),
                "tax": optional("91%06d%s%08d" % (rng.randrange(310101, 449999), rng.choice(["MA", "55", "68"]),
                                                  rng.randrange(10 ** 8)), 0.2),
                "account": optional("%019d" % rng.randrange(10 ** 18, 10 ** 19), 0.2),
                "contact": self._person(),
                "zip": optional("%06d" % rng.randrange(100000, 860000), 0.3),
                "scope": "、".join(rng.sample([f[0] for f in FAMILIES], rng.randint(1, 5))) +
                         ("等商品的批发零售" if rng.random() < 0.3 else ""),
                "memo": rng.choice([None, None, None, "", "月结30天", "货到付款", "每周二送货"]),
            })
        # One supplier code typed with a blank after it; its products use the same text.
        self.suppliers[-1]["code"] += " "

    def _make_products(self):
        rng = self.rng
        n = self.size
        leaves = [c for c in self.categories if c["leaf"]]
        # One category code stored with a trailing blank, in the tree and in its products alike.
        leaves[-1]["code"] += " "
        codes_needed = int(n * 1.6) + 200
        bar_pool = iter(rng.sample(range(3 * 10 ** 9), codes_needed))
        self.next_bar = lambda: ean13("69%010d" % next(bar_pool))
        plu_next = [0]

        def plu():
            plu_next[0] += 1
            return "2%06d" % plu_next[0]

        self.products = []
        for i in range(n):
            category = rng.choice(leaves)
            fam = FAMILIES[category["family"]]
            kinds, brands, units, models, (low, high), weighed, vat = fam[1], fam[2], fam[3], fam[4], fam[5], \
                fam[6], fam[7]
            kind, brand = category["kind"] or rng.choice(kinds), rng.choice(brands)
            qualifier = rng.choice(QUALIFIERS[fam[0]]) if rng.random() < 0.4 else ""
            name = brand + qualifier + kind
            if rng.random() < 0.01:
                name = "进口" + brand + "精选" + qualifier + kind + "礼盒装（限量版）超值组合"
            model = rng.choice(LONG_MODELS) if rng.random() < 0.03 else rng.choice(models)
            unit = rng.choice(LONG_UNITS) if rng.random() < 0.005 else rng.choice(units)
            weigh = weighed and rng.random() < 0.9
            supplier = rng.choice(self.suppliers)
            mode = supplier["mode"] if rng.random() < 0.85 else rng.choices(SALE_MODES, SALE_MODE_WEIGHTS)[0]
            retail = money(math.exp(rng.uniform(math.log(low), math.log(high))), 1)
            if rng.random() < 0.3:
                retail = money(retail - 0.01)
            retail = max(retail, 0.1)
            purchase = money(retail * rng.uniform(0.6, 0.9), rng.choice([2, 2, 3, 4]))
            bars = []
            if not weigh or rng.random() < 0.1:
                bars.append([self.next_bar(), "basic"])
                extra = rng.random()
                if extra < 0.30:
                    bars.append([self.next_bar(), rng.choice(["basic", "pack"])])
                    if extra < 0.10:
                        bars.append([self.next_bar(), rng.choice(["basic", "pack"])])
            odd_bar = self.next_bar() if bars and rng.random() < 0.005 else None
            pack = None
            if any(k == "pack" for _, k in bars) or rng.random() < 0.05:
                conv = rng.choice([6, 12, 20, 24])
                pack = {"conversion": conv, "unit": rng.choice(["箱", "提", "件"]),
                        "purchase": money(purchase * conv * 0.98, 4), "retail": money(retail * conv * 0.97, 2)}
            self.products.append({
                "code": self._pad("%08d" % (i + 1), 0.002),
                "name": name,
                "model": None if (not model or rng.random() < 0.05) else model,
                "category": category,
                "supplier": supplier,
                "area": rng.choice(self.areas),
                "origin": None if rng.random() < 0.15 else rng.choice(PROVINCES),
                "unit": unit,
                "vat": 0 if (weighed and rng.random() < 0.5) else vat,
                "weigh": weigh,
                "plu": plu() if weigh else None,
                "keep_stock": rng.random() < 0.95,
                "mode": None if rng.random() < 0.002 else mode,
                "concession": money(rng.uniform(12, 25), 1) if mode == "联营" else 0,
                "purchase": None if rng.random() < 0.003 else purchase,
                "retail": retail,
                "member": money(retail * rng.choice([1.0, 1.0, 0.95, 0.9]), 2),
                "wholesale": money(purchase * 1.08, 2),
                "bars": bars,
                "pack": pack,
                "odd_bar": odd_bar,
                "blank_bar": bool(bars) and rng.random() < 0.005,
                "combined": rng.random() < 0.01,
                "brand": brand if brand else None,
                "shelf_life": rng.choice(["12个月", "18个月", "180天", "365天", "7天", None, ""]),
                "grade": rng.choice(["合格品"] * 8 + ["一等品", "优等品", None]),
                "change_price": rng.random() < 0.7,
                "provide": rng.choice(["直配品"] * 7 + ["统配品"] * 3 + [None]),
            })
        self.stocked = list(self.products)   # products that get stock rows: one per code
        if self.mess:
            self._mess_products()

    def _mess_products(self):
        rng = self.rng
        n = len(self.products)
        extra = max(2, n // 200)
        # Repeated product codes: a second row under a code already used, as an old and a new record.
        for _ in range(extra):
            original = self.products[rng.randrange(n)]
            twin = dict(original)
            twin["code"] = original["code"].strip() + rng.choice(["", " "])
            twin["name"] = original["name"] + "(新)"
            twin["bars"] = [[self.next_bar(), "basic"]]
            twin["pack"] = None
            self.products.insert(rng.randrange(n // 2, len(self.products) + 1), twin)
        # Repeated bar codes: a product's main bar code reused by a later product.
        with_bars = [p for p in self.products if p["bars"]]
        for _ in range(extra):
            first, later = sorted(rng.sample(range(len(with_bars)), 2))
            with_bars[later]["bars"] = [list(b) for b in with_bars[later]["bars"]]
            with_bars[later]["bars"][0][0] = with_bars[first]["bars"][0][0]
        # A bar code that is another product's code, and a bar code given twice to one product.
        victim = with_bars[rng.randrange(len(with_bars))]
        victim["bars"] = [list(b) for b in victim["bars"]]
        victim["bars"][0][0] = self.products[0]["code"].strip()
        twice = with_bars[rng.randrange(len(with_bars))]
        twice["bars"] = [list(b) for b in twice["bars"]] + [[twice["bars"][0][0], "basic"]]
        # A scale code given to two products.
        weighed = [p for p in self.products if p["weigh"]]
        if len(weighed) >= 2:
            a, b = rng.sample(range(len(weighed)), 2)
            weighed[b]["plu"] = weighed[a]["plu"]

    def _make_stock(self):
        rng = self.rng
        count = len(self.warehouses)
        self.stock = []   # (warehouse index, product code, quantity or None)
        for product in self.stocked:
            k = min(count, max(1, int(round(rng.gauss(3.2, 1.0)))))
            for w in sorted(rng.sample(range(count), k)):
                roll = rng.random()
                if roll < 0.005:
                    qty = None
                elif roll < 0.015:
                    qty = -rng.randint(1, 20)
                elif product["weigh"]:
                    qty = money(rng.uniform(0, 80), 3)
                else:
                    qty = rng.randint(0, 500)
                self.stock.append((w, product["code"], qty))
        # A few stock rows of products that no longer exist in the product table.
        for i in range(max(1, len(self.stocked) // 1000)):
            self.stock.append((rng.randrange(count), "9%07d" % (i + 1), rng.randint(1, 50)))

    def _make_members(self):
        rng = self.rng
        start = rng.randrange(10 ** 7, 5 * 10 ** 7)
        self.members = []
        for i in range(self.size):
            # Most cards have 10 digits; a few are bank-style 16 digits, distinct in their first 13.
            if i % 97 == 5:
                card = "6222%09d%03d" % (i, rng.randrange(1000))
            else:
                card = "88%08d" % (start + i)
            year = rng.randint(1940, 2005)
            birthday = "%04d-%02d-%02d" % (year, rng.randint(1, 12), rng.randint(1, 28))
            stored = rng.random() < 0.4
            spent = money(rng.uniform(0, 50000), 2)
            points = money(spent * rng.uniform(0.5, 1.0), 0)
            discount = rng.random() < 0.3
            roll = rng.random()
            self.members.append({
                "card": self._pad(card, 0.003),
                "balance": None if rng.random() < 0.01 else (money(rng.uniform(0, 3000), 2) if stored else 0),
                "stored": stored,
                "state": "正常" if roll < 0.94 else rng.choice(ODD_STATES),
                "medium": rng.choice(CARD_MEDIA),
                "flash": rng.random() < 0.1,
                "name": self._person(),
                "sex": rng.choice(["男", "女", "男", "女", None, "未知"] if rng.random() < 0.05 else ["男", "女"]),
                "address": None if rng.random() < 0.1 else self._address(),
                "idcard": None if rng.random() < 0.2 else id_card(rng, birthday),
                "phone": self._phone(rng.random() < 0.8),
                "birthday": None if rng.random() < 0.1 else birthday,
                "points_card": rng.random() < 0.8,
                "spent": spent,
                "points": points,
                "points_left": money(points * rng.uniform(0, 1), 0),
                "member_card": rng.random() < 0.9,
                "discount": discount,
                "rate": rng.choice([0.95, 0.9, 0.88, 0.85]) if discount else 1.0,
            })
        if self.mess:
            # One card entered twice, and one whose number differs only after its 13th character.
            twin = dict(self.members[rng.randrange(len(self.members))])
            self.members.insert(rng.randrange(len(self.members) + 1), twin)
            long_cards = [m for m in self.members if len(m["card"].strip()) > 13]
            if long_cards:
                near = dict(long_cards[0])
                near["card"] = near["card"].strip()[:13] + "999"
                self.members.append(near)


def flag(value):
    return "1" if value else "0"


def write_v67(db, world):
    rng = random.Random(world.size * 7919 + 1)
    db.executemany("INSERT INTO ck VALUES (?, ?)", world.warehouses)
    db.executemany("INSERT INTO hq VALUES (?, ?)", world.areas)
    db.executemany("INSERT INTO splb VALUES (?, ?, ?)",
                   [(c["code"], c["name"], c["level"]) for c in world.categories])
    db.executemany("INSERT INTO xx VALUES (?, ?)",
                   [("spjc", PRODUCT_LEVELS), ("gysjc", SUPPLIER_LEVELS), ("dwmc", "百家福连锁超市"), ("bbh", "7.0")])
    db.executemany("INSERT INTO gyslb VALUES (?, ?, ?)",
                   [(c["code"], c["name"], c["level"]) for c in world.supplier_categories])
    db.executemany("INSERT INTO gys VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                   [(s["code"], s["name"], s["category"], s["fax"], s["phone"], s["address"], s["bank"], s["tax"],
                     s["account"], s["contact"], s["zip"]) for s in world.suppliers])

    def spxx_row(p):
        bars = [b for b, _ in p["bars"]]
        main = bars[0] if bars else None
        if main and p["blank_bar"]:
            main = main + rng.choice([" ", "\t"])
        second = bars[1] if len(bars) > 1 else rng.choice([None, ""])
        third = bars[2] if len(bars) > 2 else rng.choice([None, ""])
        if p["odd_bar"] and len(bars) == 2:
            second, third = "", bars[1]   # only the third bar code field filled
        return (p["code"], p["name"], p["model"], p["category"]["code"], p["origin"], p["vat"], p["vat"],
                "1" if p["weigh"] else "0", "1" if p["keep_stock"] else "0", p["supplier"]["code"],
                p["concession"], p["mode"], p["purchase"], p["area"][0], p["retail"], p["member"], p["wholesale"],
                p["unit"], p["plu"], main, second, third, "1" if p["combined"] else "0")

    db.executemany("INSERT INTO spxx VALUES (" + ", ".join("?" * 23) + ")", map(spxx_row, world.products))
    db.executemany("INSERT INTO spkc VALUES (?, ?, ?)",
                   ((world.warehouses[w][0], code, qty) for w, code, qty in world.stock))

    def hyda_row(m):
        return (m["card"], m["balance"], flag(m["stored"]), m["state"], m["medium"], flag(m["flash"]), m["name"],
                m["address"], m["idcard"], m["phone"], flag(m["points_card"]), m["spent"], m["points"],
                m["points_left"], flag(m["member_card"]), flag(m["discount"]), m["rate"])

    db.executemany("INSERT INTO hyda VALUES (" + ", ".join("?" * 17) + ")", map(hyda_row, world.members))
    return {"products": len(world.products),
            "bar codes": sum(len(p["bars"]) for p in world.products),
            "stock rows": len(world.stock)}


def write_v1(db, world):
    rng = random.Random(world.size * 7919 + 2)
    db.executemany("INSERT INTO Store VALUES (?, ?)", world.warehouses)
    db.executemany("INSERT INTO Organise VALUES (?, ?)", world.areas)

    def tree_rows(nodes):
        # The parent reference is the parent's code exactly as stored, "-1" at the top.
        stored = {}
        rows = []
        for c in nodes:
            stored[c["code"].strip()] = c["code"]
            rows.append((c["code"], c["name"], stored[c["parent"].strip()] if c["parent"] else "-1"))
        return rows

    db.executemany("INSERT INTO GoodsType VALUES (?, ?, ?)", tree_rows(world.categories))
    db.executemany("INSERT INTO SupplierType VALUES (?, ?, ?)",
                   [(code, parent, name) for code, name, parent in tree_rows(world.supplier_categories)])
    db.executemany("INSERT INTO AccountInfo VALUES (?, ?)",
                   [("GoodsLevel", PRODUCT_LEVELS), ("SupplierLevel", SUPPLIER_LEVELS),
                    ("CompanyName", "百家福连锁超市"), ("Version", "1.0")])
    db.executemany("INSERT INTO Supplier VALUES (" + ", ".join("?" * 14) + ")",
                   [(s["code"], s["name"], s["category"], s["fax"], s["phone"], s["address"], s["manager"],
                     s["bank"], s["tax"], s["account"], s["contact"], s["zip"], s["scope"], s["memo"])
                    for s in world.suppliers])

    bar_rows = []

    def goods_row(p):
        code = p["code"].strip()
        bars = p["bars"]
        main = bars[0][0] if bars else None
        if main and p["blank_bar"]:
            main = " " + main
        pack = p["pack"]
        # Products with a single bar code often have no bar-code rows; the others list all of theirs.
        if bars and (len(bars) > 1 or rng.random() < 0.7):
            for bar, kind in bars:
                bar_rows.append((code, bar, "基本单位" if kind == "basic" else "包装单位"))
            if p["odd_bar"]:
                bar_rows.append((code, p["odd_bar"], rng.choice(["赠品", None])))
        return (p["code"], p["name"], p["model"], p["category"]["code"], p["category"]["name"], p["shelf_life"],
                p["origin"], p["grade"], p["brand"], p["vat"], p["vat"], int(p["weigh"]),
                None if rng.random() < 0.01 else int(p["keep_stock"]), p["supplier"]["code"], p["supplier"]["name"],
                p["concession"], p["mode"], int(p["change_price"]), p["provide"],
                p["area"][0], p["area"][1] + rng.choice(["", "", "", " "]),
                pack["conversion"] if pack else rng.choice([0, 1, None]),
                p["purchase"], p["retail"], p["member"], p["wholesale"], p["unit"],
                pack["purchase"] if pack else 0, pack["retail"] if pack else 0,
                pack["retail"] if pack else 0, money(pack["purchase"] * 1.05, 2) if pack else 0,
                pack["unit"] if pack else None, p["plu"], main)

    db.executemany("INSERT INTO Goods VALUES (" + ", ".join("?" * 34) + ")", map(goods_row, world.products))
    db.executemany("INSERT INTO GoodsBarCode VALUES (?, ?, ?)", bar_rows)

    names = {p["code"]: p["name"] for p in world.stocked}
    db.executemany("INSERT INTO GoodsStoreBalance VALUES (?, ?, ?, ?, ?)",
                   ((world.warehouses[w][0], code, world.warehouses[w][1], names.get(code, "已删除商品"), qty)
                    for w, code, qty in world.stock))

    def card_row(m):
        maybe = lambda value: None if rng.random() < 0.005 else int(value)
        return (m["card"], m["balance"], int(m["stored"]), m["state"], m["medium"], maybe(m["flash"]), m["name"],
                m["sex"], m["address"], m["idcard"], m["phone"],
                m["birthday"] + " 00:00:00" if m["birthday"] else None,
                maybe(m["points_card"]), m["spent"], m["points"], m["points_left"], maybe(m["member_card"]),
                maybe(m["discount"]))

    db.executemany("INSERT INTO card VALUES (" + ", ".join("?" * 18) + ")", map(card_row, world.members))
    return {"products": len(world.products), "bar codes": len(bar_rows), "stock rows": len(world.stock)}


def create_database(path, ddl_file):
    for suffix in ("", "-journal", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            os.remove(path + suffix)
    with open(ddl_file, encoding="utf-8") as f:
        ddl = f.read()
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("PRAGMA journal_mode=OFF")
    db.execute("PRAGMA synchronous=OFF")
    db.executescript(ddl)
    return db


def make_source(args):
    world = World(args.size, args.seed, args.mess)
    db = create_database(args.out, os.path.join(args.schema_dir, "source_%s_sqlite.sql" % args.family))
    db.execute("BEGIN")
    counts = (write_v67 if args.family == "v67" else write_v1)(db, world)
    db.execute("COMMIT")
    db.close()
    parts = ["%d %s" % (counts["products"], "products"), "%d bar codes" % counts["bar codes"],
             "%d categories" % len(world.categories), "%d suppliers" % len(world.suppliers),
             "%d warehouses" % len(world.warehouses), "%d stock rows" % counts["stock rows"],
             "%d members" % len(world.members)]
    return "%s %s (size %d, seed %d%s): %s" % (args.family, args.out, args.size, args.seed,
                                               ", mess" if args.mess else "", ", ".join(parts))


def make_target(args):
    db = create_database(args.target, os.path.join(args.schema_dir, "target_sqlite.sql"))
    db.close()
    return "target %s" % args.target


def main(argv=None):
    parser = argparse.ArgumentParser(description="Creates sample Belmire source and empty target databases.")
    parser.add_argument("--family", choices=["v67", "v1"], help="source schema: V6/V7 or V1")
    parser.add_argument("--size", type=int, default=1000, help="number of products and of members (default 1000)")
    parser.add_argument("--out", help="source database file to create (overwritten)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the random data (default 1)")
    parser.add_argument("--mess", action="store_true", help="add repeated product codes, bar codes and a card")
    parser.add_argument("--target", help="empty target database file to create (overwritten)")
    parser.add_argument("--schema-dir", default=SCHEMA_DIR, help="folder of the DDL files")
    args = parser.parse_args(argv)
    if args.out is None and args.target is None:
        parser.error("give --family and --out, or --target, or both")
    if args.out is not None and args.family is None:
        parser.error("--out needs --family")
    if args.family is not None and args.out is None:
        parser.error("--family needs --out")
    if args.size < 1:
        parser.error("--size must be at least 1")

    started = time.monotonic()
    done = []
    try:
        if args.out is not None:
            done.append(make_source(args))
        if args.target is not None:
            done.append(make_target(args))
    except (OSError, sqlite3.Error) as e:
        print("gen_sample: %s" % e, file=sys.stderr)
        return 1
    print("gen_sample: %s; %.1f s" % ("; ".join(done), time.monotonic() - started), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
